#include "decode/Labels.h"

namespace zelvox {

// Ω U+03A9, ℃ U+2103, ℉ U+2109, ° U+00B0.
const std::array<std::u16string_view, kFunctionCount> functionLabels = {
    u"no define", u"DCV V",  u"DCV mV",     u"ACV V",      u"ACV mV",     u"DCA A",       u"DCA mA",
    u"DCA uA",    u"ACA A",  u"ACA mA",     u"ACA uA",     u"OHM \u03A9", u"OHM K\u03A9", u"OHM M\u03A9",
    u"CAP nF",    u"CAP uF", u"CAP mF",     u"FRE Hz",     u"FRE KHz",    u"FRE MHz",     u"DUTY",
    u"DIODE",     u"\u03A9", u"TMP \u2103", u"TMP \u2109", u"ms",         u"\u00B0",      u"kRPM",
};

const std::array<std::u16string_view, kFunctionCount> unitLabels = {
    u"",     u"V",      u"mV",      u"V",       u"mV",     u"A",  u"mA",     u"uA",   u"A",   u"mA",
    u"uA",   u"\u03A9", u"K\u03A9", u"M\u03A9", u"nF",     u"uF", u"mF",     u"Hz",   u"KHz", u"MHz",
    u"DUTY", u"DIODE",  u"\u03A9",  u"\u2103",  u"\u2109", u"ms", u"\u00B0", u"kRPM",
};

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // an unpaired surrogate cannot be encoded
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace zelvox
