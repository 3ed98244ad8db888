// Placeholder until the artwork lands: a blank image of the table's size.
#include "res/Artwork.h"

namespace zelvox::res {

QImage DrawSegmentImage(const ImageInfo& info) {
    QImage image(info.width, info.height, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

} // namespace zelvox::res
