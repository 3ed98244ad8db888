#include "res/Artwork.h"

#include <QHash>

namespace zelvox::res {

const std::vector<ImageInfo>& ImageTable() {
    using K = ImageKind;
    static const std::vector<ImageInfo> table = {
        // Dials of the needle gauge (132 is also the layout image of the main frame).
        {132, 410, 208, K::Dial, "dial-diode-3"},
        {133, 410, 208, K::Dial, "dial-6"},
        {134, 410, 208, K::Dial, "dial-10"},
        {136, 410, 208, K::Dial, "dial-60"},
        {137, 410, 208, K::Dial, "dial-100"},
        {139, 410, 208, K::Dial, "dial-600"},
        {140, 409, 208, K::Dial, "dial-1000"},
        {141, 410, 208, K::Dial, "dial-2000"},
        {143, 410, 208, K::Dial, "dial-6000"},
        {199, 410, 208, K::Dial, "dial-angle-0-180"},
        {200, 410, 207, K::Dial, "dial-krpm-0-1000"},
        {201, 410, 207, K::Dial, "dial-krpm-0-10"},
        {202, 410, 207, K::Dial, "dial-krpm-0-100"},
        {204, 411, 208, K::Dial, "dial-50"},
        // Buttons of the trend graph.
        {130, 16, 16, K::Icon, "icon-disk"},
        {194, 16, 16, K::Icon, "icon-printer"},
        {195, 16, 16, K::Icon, "icon-next"},
        {196, 16, 16, K::Icon, "icon-previous"},
        {197, 16, 16, K::Icon, "icon-last"},
        {198, 16, 16, K::Icon, "icon-first"},
        // The LCD: black background and the segment / annunciator pictures.
        {144, 338, 174, K::Background, "lcd-background"},
        {145, 9, 49, K::Segment, "seg-vertical"},
        {146, 40, 9, K::Segment, "seg-horizontal"},
        {147, 39, 18, K::Segment, "ann-plus-trig"},
        {148, 40, 18, K::Segment, "ann-auto"},
        {149, 15, 18, K::Segment, "ann-celsius"},
        {150, 15, 18, K::Segment, "ann-fahrenheit"},
        {151, 14, 18, K::Segment, "ann-ampere"},
        {152, 26, 18, K::Segment, "ann-ac"},
        {154, 18, 18, K::Segment, "ann-percent"},
        {155, 26, 18, K::Segment, "ann-cyl"},
        {156, 25, 18, K::Segment, "ann-dc"},
        {157, 27, 18, K::Segment, "ann-battery"},
        {158, 14, 18, K::Segment, "ann-numeral-2"},
        {159, 14, 21, K::Segment, "ann-numeral-3"},
        {160, 15, 18, K::Segment, "ann-numeral-4"},
        {161, 12, 18, K::Segment, "ann-numeral-5"},
        {162, 13, 18, K::Segment, "ann-numeral-6"},
        {163, 13, 18, K::Segment, "ann-numeral-8"},
        {164, 29, 18, K::Segment, "ann-dis"},
        {165, 18, 18, K::Segment, "ann-diode"},
        {166, 10, 18, K::Segment, "ann-farad"},
        {167, 27, 7, K::Segment, "ann-minus"},
        {168, 25, 27, K::Segment, "ann-hold"},
        {169, 23, 18, K::Segment, "ann-hertz"},
        {170, 17, 18, K::Segment, "ann-angle"},
        {171, 12, 18, K::Segment, "ann-kilo"},
        {172, 39, 18, K::Segment, "ann-krpm"},
        {173, 12, 18, K::Segment, "ann-continuity"},
        {174, 16, 18, K::Segment, "ann-mega"},
        {175, 45, 18, K::Segment, "ann-max"},
        {176, 38, 18, K::Segment, "ann-min"},
        {177, 30, 18, K::Segment, "ann-ms"},
        {178, 20, 16, K::Segment, "ann-milli"},
        {179, 13, 16, K::Segment, "ann-micro"},
        {180, 11, 16, K::Segment, "ann-nano"},
        {181, 15, 18, K::Segment, "ann-ohm"},
        {182, 18, 18, K::Segment, "ann-circled-2"},
        {183, 18, 18, K::Segment, "ann-circled-4"},
        {184, 35, 18, K::Segment, "ann-rel"},
        {185, 18, 18, K::Segment, "ann-clock"},
        {186, 40, 18, K::Segment, "ann-minus-trig"},
        {188, 36, 18, K::Segment, "ann-usb"},
        {189, 13, 18, K::Segment, "ann-volt"},
        {190, 9, 9, K::Segment, "dp-1-2"},
        {191, 9, 9, K::Segment, "dp-2-3"},
        {192, 9, 9, K::Segment, "dp-3-4"},
    };
    return table;
}

const ImageInfo* FindImage(int id) {
    for (const ImageInfo& info : ImageTable())
        if (info.id == id)
            return &info;
    return nullptr;
}

QImage LoadImage(int id) {
    static QHash<int, QImage> cache;
    if (auto it = cache.constFind(id); it != cache.constEnd())
        return *it;
    const ImageInfo* info = FindImage(id);
    if (!info)
        return {};
    QImage image;
    switch (info->kind) {
    case ImageKind::Dial:
        image = DrawDialImage(*info);
        break;
    case ImageKind::Icon:
        image = DrawIconImage(*info);
        break;
    case ImageKind::Background:
    case ImageKind::Segment:
        image = DrawSegmentImage(*info);
        break;
    }
    cache.insert(id, image);
    return image;
}

} // namespace zelvox::res
