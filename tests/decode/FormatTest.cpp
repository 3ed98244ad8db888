#include "decode/Format.h"
#include "decode/Labels.h"
#include "decode/Reading.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>

namespace zelvox {
namespace {

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

TEST(FormatValue, ByPointPosition) {
    const struct {
        double value;
        int pp;
        const char* text;
    } cases[] = {
        {1.5, 1, "1.500"},
        {-12.26, 3, "-12.3"},
        {7.9, 0, "7"},
        {-7.9, 0, "-7"},
        {1.234, 1, "1.234"},
        {230, 0, "230"},
        {2.5, 2, "2.50"},
        {0.125, 2, "0.12"},
        {0.375, 2, "0.38"},
        {-0.0, 1, "-0.000"},
        {-0.0, 0, "0"},
        {9999, 4, "9999"},
        {12.34, 255, "12"},
        {999999.0, 1, "999999.000"},
        {-999999.0, 0, "-999999"},
        {1e10, 0, "2147483647"},
        {-1e10, 0, "-2147483648"},
        {2147483647.9, 0, "2147483647"},
        {-2147483648.5, 0, "-2147483648"},
        {-2147483647.5, 0, "-2147483647"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Narrow(FormatValue(c.value, static_cast<std::uint8_t>(c.pp))), c.text)
            << c.value << " pp " << c.pp;
    EXPECT_EQ(FormatValue(std::nan(""), 0), u"0");
}

TEST(FormatValue, MatchesPrintfRounding) {
    // The fixed formats round exactly as printf does (the program's texts were always printf's).
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> dist(-10000.0, 10000.0);
    const char* formats[] = {nullptr, "%.3f", "%.2f", "%.1f"};
    for (int i = 0; i < 20000; ++i) {
        double v = dist(rng);
        if (i % 2)
            v = std::round(v * 1000.0) / 1000.0 + (i % 4 == 1 ? 0.0005 : 0.005); // near halfway cases
        for (int pp = 1; pp <= 3; ++pp) {
            char buf[64];
            std::snprintf(buf, sizeof buf, formats[pp], v);
            ASSERT_EQ(Narrow(FormatValue(v, static_cast<std::uint8_t>(pp))), buf) << v;
        }
    }
}

TEST(FormatTableValue, OverloadTexts) {
    EXPECT_EQ(FormatTableValue(999999.0, 1), u"0L");
    EXPECT_EQ(FormatTableValue(999999.0, 0), u"0L");
    EXPECT_EQ(FormatTableValue(-999999.0, 3), u"-0L");
    EXPECT_EQ(FormatTableValue(999998.9, 3), u"999998.9");
    EXPECT_EQ(FormatTableValue(-1.25, 2), u"-1.25");
}

// A moment at local time h:m:s.ms on the epoch's first day (UTC offset 0).
WallTime At(int h, int m, int s, int ms) {
    return WallTimeAt(((h * 60LL + m) * 60 + s) * 1000 + ms, 0);
}

TEST(FormatTime, ZeroPaddedLocalTimeOfDay) {
    EXPECT_EQ(FormatTime(At(0, 0, 0, 5)), u"00:00:00:005");
    EXPECT_EQ(FormatTime(At(23, 59, 59, 999)), u"23:59:59:999");
    EXPECT_EQ(FormatTime(At(9, 5, 7, 42)), u"09:05:07:042");
    EXPECT_EQ(FormatTime(At(1, 2, 3, 100)), u"01:02:03:100");
    // The offset moves the local time, across midnight too.
    EXPECT_EQ(FormatTime(WallTimeAt(5, 3600)), u"01:00:00:005");
    EXPECT_EQ(FormatTime(WallTimeAt(5, -(3 * 3600 + 1800))), u"20:30:00:005");
    EXPECT_EQ(FormatTime(WallTimeAt(-1, 0)), u"23:59:59:999");
}

TEST(FormatClock, YearUnpaddedLocalDateAndTime) {
    // 2014-12-31 23:59:59 UTC, and the same moment one second and an hour later.
    constexpr std::int64_t kNewYearsEve = 1420070399000;
    EXPECT_EQ(FormatClock(WallTimeAt(kNewYearsEve, 0)), u"2014-12-31 23:59:59");
    EXPECT_EQ(FormatClock(WallTimeAt(kNewYearsEve + 1000, 0)), u"2015-01-01 00:00:00");
    EXPECT_EQ(FormatClock(WallTimeAt(kNewYearsEve, 3600)), u"2015-01-01 00:59:59");
    EXPECT_EQ(FormatClock(WallTimeAt(-62135596800000 + 1000LL * 86400 * 400, 0)), u"2-02-05 00:00:00");
}

TEST(LocalTime, AgreesWithTheCLibrary) {
    const std::time_t before = std::time(nullptr);
    const WallTime now = WallTimeNow();
    const std::time_t after = std::time(nullptr);
    const WallTime::Fields d = now.LocalFields();
    std::tm lb{}, la{};
    localtime_r(&before, &lb);
    localtime_r(&after, &la);
    EXPECT_TRUE(now.utcOffset.count() == lb.tm_gmtoff || now.utcOffset.count() == la.tm_gmtoff);
    // Both calls fall between before and after; across a day change only the checks for
    // the matching side can hold, so accept either.
    const bool dateMatches =
        (d.year == lb.tm_year + 1900 && d.month == lb.tm_mon + 1 && d.day == lb.tm_mday) ||
        (d.year == la.tm_year + 1900 && d.month == la.tm_mon + 1 && d.day == la.tm_mday);
    EXPECT_TRUE(dateMatches);
    const int secs = d.hour * 3600 + d.minute * 60 + d.second;
    const int sb = lb.tm_hour * 3600 + lb.tm_min * 60 + lb.tm_sec;
    const int sa = la.tm_hour * 3600 + la.tm_min * 60 + la.tm_sec;
    EXPECT_TRUE((secs >= sb && secs <= sa) || sa < sb) << secs << " not in " << sb << ".." << sa;
    EXPECT_GE(d.millisecond, 0);
    EXPECT_LE(d.millisecond, 999);
}

TEST(Labels, TablesAndUtf8) {
    EXPECT_EQ(functionLabels[0], u"no define");
    EXPECT_EQ(unitLabels[0], u"");
    EXPECT_EQ(functionLabels[12], u"OHM K\u03A9");
    EXPECT_EQ(functionLabels[18], u"FRE KHz");
    EXPECT_EQ(functionLabels[22], u"\u03A9");
    EXPECT_EQ(unitLabels[23], u"\u2103");
    EXPECT_EQ(unitLabels[24], u"\u2109");
    EXPECT_EQ(functionLabels[26], u"\u00B0");
    EXPECT_EQ(functionLabels[27], u"kRPM");
    EXPECT_EQ(unitLabels[7], u"uA");
    for (int i = 1; i < kFunctionCount; ++i) {
        // Each unit is the end of its function label (the labels name function then unit).
        const auto f = functionLabels[static_cast<std::size_t>(i)];
        const auto u = unitLabels[static_cast<std::size_t>(i)];
        ASSERT_FALSE(u.empty()) << i;
        EXPECT_EQ(f.substr(f.size() - u.size()), u) << i;
    }

    EXPECT_EQ(ToUtf8(u"OHM K\u03A9"), "OHM K\xCE\xA9");
    EXPECT_EQ(ToUtf8(u"TMP \u2103"), "TMP \xE2\x84\x83");
    EXPECT_EQ(ToUtf8(u"\u00B0"), "\xC2\xB0");
    EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDC00), u'a'}), "\xEF\xBF\xBD"
                                                              "a");
    EXPECT_EQ(ToUtf8(u""), "");
}

} // namespace
} // namespace zelvox
