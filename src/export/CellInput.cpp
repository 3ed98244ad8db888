#include "export/CellInput.h"

#include <QByteArray>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace zelvox::sheet {

bool IsTextFormat(const QString& formatCode) {
    return formatCode == QLatin1String("@");
}

std::optional<double> ReadTypedNumber(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    std::string ascii; // short enough for no allocation in the usual case
    ascii.reserve(std::size_t(trimmed.size()));
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return k < trimmed.size() ? trimmed.at(k).unicode() : char16_t(0); };
    const auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    if (at(i) == u'+' || at(i) == u'-') {
        if (at(i) == u'-')
            ascii.push_back('-');
        ++i;
    }
    int mantissaDigits = 0;
    while (isDigit(at(i))) {
        ascii.push_back(char(at(i++)));
        ++mantissaDigits;
    }
    if (at(i) == u'.') {
        ascii.push_back('.');
        ++i;
        while (isDigit(at(i))) {
            ascii.push_back(char(at(i++)));
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (at(i) == u'e' || at(i) == u'E') {
        ascii.push_back('e');
        ++i;
        if (at(i) == u'+' || at(i) == u'-')
            ascii.push_back(char(at(i++)));
        int exponentDigits = 0;
        while (isDigit(at(i))) {
            ascii.push_back(char(at(i++)));
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != trimmed.size())
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value == 0.0 ? 0.0 : value; // a typed "-0" is plain 0
}

namespace {

QString GeneralNumber(double value) {
    QString text = QString::number(value, 'g', 15);
    return text.toUpper(); // exponent shown as "E+20"
}

} // namespace

NumberFormat::NumberFormat(const QString& formatCode) {
    general_ = formatCode.isEmpty() || IsTextFormat(formatCode) ||
               formatCode.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0;
    if (general_)
        return;
    // Only the first section applies to the numbers shown here.
    const QString section = formatCode.section(u';', 0, 0);
    bool afterPoint = false;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section.at(i);
        QString& literal = anyDigit_ ? suffix_ : prefix_;
        if (c == u'0' || c == u'#' || c == u'?') {
            anyDigit_ = true;
            if (afterPoint)
                ++decimals_;
        } else if (c == u'.') {
            afterPoint = true;
        } else if (c == u',') {
            // thousands separator: not shown by this simple reading
        } else if ((c == u'_' || c == u'\\' || c == u'*') && i + 1 < section.size()) {
            literal.append(c == u'*' ? QString() : QString(section.at(i + 1)));
            ++i;
        } else if (c == u'"') {
            const qsizetype close = section.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? section.size() : close;
            literal.append(section.mid(i + 1, end - i - 1));
            i = end;
        } else {
            literal.append(c);
        }
    }
}

QString NumberFormat::Show(double value) const {
    if (general_)
        return GeneralNumber(value);
    if (!anyDigit_)
        return prefix_ + suffix_;
    QString digits = QString::number(value, 'f', decimals_);
    if (digits.startsWith(u'-') && digits.size() == digits.count(u'0') + digits.count(u'.') + 1)
        digits.remove(0, 1); // -0.000 shows as 0.000
    return prefix_ + digits + suffix_;
}

QString DisplayNumber(double value, const QString& formatCode) {
    return NumberFormat(formatCode).Show(value);
}

namespace {

// Advance widths of Calibri 11 at 96 dpi, printable ASCII from ' ' to '~'.
constexpr std::array<std::uint8_t, 95> kCalibri11 = {
    3, 5, 6, 7, 7, 11, 10, 3, 5, 5, 7, 7, 4,  5,  4,  6, // space ! " # $ % & ' ( ) * + , - . /
    7, 7, 7, 7, 7, 7,  7,  7, 7, 7,                      // 0-9
    4, 4, 7, 7, 7, 7,  13,                               // : ; < = > ? @
    9, 8, 8, 9, 7, 7,  9,  9, 4, 5, 8, 6, 12, 10, 10, 8, 10, 8, 7, 7, 9, 9, 13, 8, 7, 7, // A-Z
    5, 6, 5, 7, 7, 4,                                                                    // [ \ ] ^ _ `
    7, 8, 6, 8, 8, 5,  7,  8, 4, 4, 7, 4, 12, 8,  8,  8, 8,  5, 6, 5, 8, 7, 11, 7, 7, 6, // a-z
    5, 7, 5, 7};                                                                         // { | } ~
constexpr int kOtherCharacter = 8;

} // namespace

int TextPixelWidth(QStringView text) {
    int width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        width += (u >= 0x20 && u <= 0x7E) ? kCalibri11[u - 0x20] : kOtherCharacter;
    }
    return width;
}

double FittedColumnWidth(int textPixels) {
    // A column of w characters is trunc(7w + 5) pixels wide (7 = widest digit, 5 = margins);
    // the fitted column leaves the cell's own padding of 7 pixels around the text.
    const int pixels = textPixels + 7;
    const double width = pixels <= 12 ? pixels / 12.0 : (pixels - 5) / 7.0;
    return std::round(width * 100.0) / 100.0;
}

} // namespace zelvox::sheet
