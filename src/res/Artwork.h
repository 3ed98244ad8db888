// The program's images, drawn by code at their exact sizes from one table of image ids.
#pragma once

#include <QImage>
#include <vector>

namespace zelvox::res {

// Every image by its id; ImageTable() gives each one's size and kind.
enum ImageId : int {
    kDialDiode3 = 132,
    kDial6 = 133,
    kDial10 = 134,
    kDial60 = 136,
    kDial100 = 137,
    kDial600 = 139,
    kDial1000 = 140,
    kDial2000 = 141,
    kDial6000 = 143,
    kDialAngle0180 = 199,
    kDialKrpm01000 = 200,
    kDialKrpm010 = 201,
    kDialKrpm0100 = 202,
    kDial50 = 204,
    kIconDisk = 130,
    kIconPrinter = 194,
    kIconNext = 195,
    kIconPrevious = 196,
    kIconLast = 197,
    kIconFirst = 198,
    kLcdBackground = 144,
    kSegVertical = 145,
    kSegHorizontal = 146,
    kAnnPlusTrig = 147,
    kAnnAuto = 148,
    kAnnCelsius = 149,
    kAnnFahrenheit = 150,
    kAnnAmpere = 151,
    kAnnAc = 152,
    kAnnPercent = 154,
    kAnnCyl = 155,
    kAnnDc = 156,
    kAnnBattery = 157,
    kAnnNumeral2 = 158,
    kAnnNumeral3 = 159,
    kAnnNumeral4 = 160,
    kAnnNumeral5 = 161,
    kAnnNumeral6 = 162,
    kAnnNumeral8 = 163,
    kAnnDis = 164,
    kAnnDiode = 165,
    kAnnFarad = 166,
    kAnnMinus = 167,
    kAnnHold = 168,
    kAnnHertz = 169,
    kAnnAngle = 170,
    kAnnKilo = 171,
    kAnnKrpm = 172,
    kAnnContinuity = 173,
    kAnnMega = 174,
    kAnnMax = 175,
    kAnnMin = 176,
    kAnnMs = 177,
    kAnnMilli = 178,
    kAnnMicro = 179,
    kAnnNano = 180,
    kAnnOhm = 181,
    kAnnCircled2 = 182,
    kAnnCircled4 = 183,
    kAnnRel = 184,
    kAnnClock = 185,
    kAnnMinusTrig = 186,
    kAnnUsb = 188,
    kAnnVolt = 189,
    kPoint12 = 190,
    kPoint23 = 191,
    kPoint34 = 192,
    // The main window is laid out around the diode dial's size.
    kLayoutImage = kDialDiode3,
};

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
