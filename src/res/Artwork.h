// The program's images, drawn by code at their exact sizes from one table of image ids.
#pragma once

#include <QImage>
#include <vector>

namespace zelvox::res {

enum class ImageKind { Dial, Icon, Background, Segment };

struct ImageInfo {
    int id;
    int width;
    int height;
    ImageKind kind;
    const char* what; // short description, also the PNG name written by zelvox-art
};

const std::vector<ImageInfo>& ImageTable();
const ImageInfo* FindImage(int id);

// The image of `id` at its table size (drawn once, then served from a cache); a null
// image for an unknown id. Safe to call from the UI thread only.
QImage LoadImage(int id);

// Painters per kind (one file each).
QImage DrawDialImage(const ImageInfo& info);    // DialArt.cpp
QImage DrawIconImage(const ImageInfo& info);    // IconArt.cpp
QImage DrawSegmentImage(const ImageInfo& info); // SegmentArt.cpp (segments and background 144)

} // namespace zelvox::res
