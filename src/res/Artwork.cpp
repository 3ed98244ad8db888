#include "res/Artwork.h"

#include <QHash>

namespace zelvox::res {

const std::vector<ImageInfo>& ImageTable() {
    using K = ImageKind;
    static const std::vector<ImageInfo> table = {
        // Dials of the needle gauge (the diode dial is also the layout image of the main window).
        {kDialDiode3, 410, 208, K::Dial, "dial-diode-3"},
        {kDial6, 410, 208, K::Dial, "dial-6"},
        {kDial10, 410, 208, K::Dial, "dial-10"},
        {kDial60, 410, 208, K::Dial, "dial-60"},
        {kDial100, 410, 208, K::Dial, "dial-100"},
        {kDial600, 410, 208, K::Dial, "dial-600"},
        {kDial1000, 409, 208, K::Dial, "dial-1000"},
        {kDial2000, 410, 208, K::Dial, "dial-2000"},
        {kDial6000, 410, 208, K::Dial, "dial-6000"},
        {kDialAngle0180, 410, 208, K::Dial, "dial-angle-0-180"},
        {kDialKrpm01000, 410, 207, K::Dial, "dial-krpm-0-1000"},
        {kDialKrpm010, 410, 207, K::Dial, "dial-krpm-0-10"},
        {kDialKrpm0100, 410, 207, K::Dial, "dial-krpm-0-100"},
        {kDial50, 411, 208, K::Dial, "dial-50"},
        // Buttons of the trend graph.
        {kIconDisk, 16, 16, K::Icon, "icon-disk"},
        {kIconPrinter, 16, 16, K::Icon, "icon-printer"},
        {kIconNext, 16, 16, K::Icon, "icon-next"},
        {kIconPrevious, 16, 16, K::Icon, "icon-previous"},
        {kIconLast, 16, 16, K::Icon, "icon-last"},
        {kIconFirst, 16, 16, K::Icon, "icon-first"},
        // The LCD: black background and the segment / annunciator pictures.
        {kLcdBackground, 338, 174, K::Background, "lcd-background"},
        {kSegVertical, 9, 49, K::Segment, "seg-vertical"},
        {kSegHorizontal, 40, 9, K::Segment, "seg-horizontal"},
        {kAnnPlusTrig, 39, 18, K::Segment, "ann-plus-trig"},
        {kAnnAuto, 40, 18, K::Segment, "ann-auto"},
        {kAnnCelsius, 15, 18, K::Segment, "ann-celsius"},
        {kAnnFahrenheit, 15, 18, K::Segment, "ann-fahrenheit"},
        {kAnnAmpere, 14, 18, K::Segment, "ann-ampere"},
        {kAnnAc, 26, 18, K::Segment, "ann-ac"},
        {kAnnPercent, 18, 18, K::Segment, "ann-percent"},
        {kAnnCyl, 26, 18, K::Segment, "ann-cyl"},
        {kAnnDc, 25, 18, K::Segment, "ann-dc"},
        {kAnnBattery, 27, 18, K::Segment, "ann-battery"},
        {kAnnNumeral2, 14, 18, K::Segment, "ann-numeral-2"},
        {kAnnNumeral3, 14, 21, K::Segment, "ann-numeral-3"},
        {kAnnNumeral4, 15, 18, K::Segment, "ann-numeral-4"},
        {kAnnNumeral5, 12, 18, K::Segment, "ann-numeral-5"},
        {kAnnNumeral6, 13, 18, K::Segment, "ann-numeral-6"},
        {kAnnNumeral8, 13, 18, K::Segment, "ann-numeral-8"},
        {kAnnDis, 29, 18, K::Segment, "ann-dis"},
        {kAnnDiode, 18, 18, K::Segment, "ann-diode"},
        {kAnnFarad, 10, 18, K::Segment, "ann-farad"},
        {kAnnMinus, 27, 7, K::Segment, "ann-minus"},
        {kAnnHold, 25, 27, K::Segment, "ann-hold"},
        {kAnnHertz, 23, 18, K::Segment, "ann-hertz"},
        {kAnnAngle, 17, 18, K::Segment, "ann-angle"},
        {kAnnKilo, 12, 18, K::Segment, "ann-kilo"},
        {kAnnKrpm, 39, 18, K::Segment, "ann-krpm"},
        {kAnnContinuity, 12, 18, K::Segment, "ann-continuity"},
        {kAnnMega, 16, 18, K::Segment, "ann-mega"},
        {kAnnMax, 45, 18, K::Segment, "ann-max"},
        {kAnnMin, 38, 18, K::Segment, "ann-min"},
        {kAnnMs, 30, 18, K::Segment, "ann-ms"},
        {kAnnMilli, 20, 16, K::Segment, "ann-milli"},
        {kAnnMicro, 13, 16, K::Segment, "ann-micro"},
        {kAnnNano, 11, 16, K::Segment, "ann-nano"},
        {kAnnOhm, 15, 18, K::Segment, "ann-ohm"},
        {kAnnCircled2, 18, 18, K::Segment, "ann-circled-2"},
        {kAnnCircled4, 18, 18, K::Segment, "ann-circled-4"},
        {kAnnRel, 35, 18, K::Segment, "ann-rel"},
        {kAnnClock, 18, 18, K::Segment, "ann-clock"},
        {kAnnMinusTrig, 40, 18, K::Segment, "ann-minus-trig"},
        {kAnnUsb, 36, 18, K::Segment, "ann-usb"},
        {kAnnVolt, 13, 18, K::Segment, "ann-volt"},
        {kPoint12, 9, 9, K::Segment, "dp-1-2"},
        {kPoint23, 9, 9, K::Segment, "dp-2-3"},
        {kPoint34, 9, 9, K::Segment, "dp-3-4"},
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
