// How a cell takes a typed text and what a number looks like in it: the small part of a
// spreadsheet's behaviour that the workbook export relies on.
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace zelvox::sheet {

// True for the text format "@", under which every entry stays the text it was typed as.
bool IsTextFormat(const QString& formatCode);

// The number a typed text stands for, if it reads as a plain decimal number: optional spaces,
// an optional sign, digits with at most one '.', an optional exponent ("12", "-1.5", ".5",
// "1e3"). Anything else ("0L", "09:05:07:042", "1.2.3", "inf") is not a number. The decimal
// separator is always '.'.
std::optional<double> ReadTypedNumber(const QString& text);

// The text a number shows under a number format: the digits the format asks for, with its
// literal characters and the spaces reserved by "_x". General and "@" show the number in its
// shortest form (up to 15 significant digits).
QString DisplayNumber(double value, const QString& formatCode);

// A number format read once, for showing many numbers under it (what DisplayNumber does).
class NumberFormat {
public:
    explicit NumberFormat(const QString& formatCode);
    QString Show(double value) const;

private:
    bool general_ = false;
    bool anyDigit_ = false;
    int decimals_ = 0;
    QString prefix_, suffix_;
};

// Width in pixels of a text in the workbook's default font (Calibri 11 at 96 dpi).
int TextPixelWidth(QStringView text);

// Column width, in the workbook's character units, that fits a text of the given pixel width
// with the usual cell margins.
double FittedColumnWidth(int textPixels);

} // namespace zelvox::sheet
