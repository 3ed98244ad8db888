#include "record/ReadingRecord.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace zelvox {
namespace {

// 2026-12-08 10:42:06.123 UTC.
constexpr std::int64_t kMoment = 1796726526123;

TEST(ReadingRecord, IsoTimesCarryMillisecondsAndTheOffset) {
    EXPECT_EQ(FormatIsoDateTime({kMoment, 3600}), "2026-12-08T11:42:06.123+01:00");
    EXPECT_EQ(FormatIsoDateTime({kMoment, 0}), "2026-12-08T10:42:06.123+00:00");
    EXPECT_EQ(FormatIsoDateTime({kMoment, -(3 * 3600 + 1800)}), "2026-12-08T07:12:06.123-03:30");
    EXPECT_EQ(FormatIsoDateTime({kMoment, -11 * 3600}), "2026-12-07T23:42:06.123-11:00");
    EXPECT_EQ(FormatIsoDateTime({-1, 0}), "1969-12-31T23:59:59.999+00:00");
    EXPECT_EQ(FormatFileStamp({kMoment, 3600}), "2026-12-08T11-42-06");
    const TimeOfDay t = WallTime{kMoment, -11 * 3600}.LocalTimeOfDay();
    EXPECT_EQ(FormatTime(t), u"23:42:06:123");

    // The table's time of day, taken a moment before or after, gives back the full moment, also
    // across midnight.
    const WallTime late{kMoment, -11 * 3600}; // 23:42:06.123 local
    EXPECT_EQ(WallTimeForTimeOfDay(late, {23, 42, 6, 120}).epochMs, kMoment - 3);
    EXPECT_EQ(WallTimeForTimeOfDay(late, {0, 0, 0, 5}).epochMs,
              kMoment + (17 * 60 + 53) * 1000 + 1000 - 123 + 5);
    TimeOfDay parsed;
    EXPECT_TRUE(ParseTimeText("09:05:07:042", parsed));
    EXPECT_EQ(FormatTime(parsed), u"09:05:07:042");
    EXPECT_FALSE(ParseTimeText("24:00:00:000", parsed));
    EXPECT_FALSE(ParseTimeText("09:05:07.042", parsed));

    // The local zone of this machine agrees with the C library.
    const WallTime now = WallTimeNow();
    const std::time_t secs = static_cast<std::time_t>(now.epochMs / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    const TimeOfDay local = now.LocalTimeOfDay();
    EXPECT_EQ(local.hour, tm.tm_hour);
    EXPECT_EQ(local.minute, tm.tm_min);
    EXPECT_EQ(local.second, tm.tm_sec);
}

TEST(ReadingRecord, CsvRowsHoldTheTableTextsAndTheFullValue) {
    const WallTime at{kMoment, 3600};
    const Reading r{-123.40000000000001, 3, 10};
    const TableTexts texts = MakeTableTexts(41, r, at.LocalTimeOfDay());
    EXPECT_EQ(CsvLine(at, r, texts),
              "2026-12-08T11:42:06.123+01:00,41,-123.4,ACA uA,11:42:06:123,-123.4\r\n");
    const Reading ohm{0.1 + 0.2, 1, 12};
    EXPECT_EQ(CsvLine(at, ohm, MakeTableTexts(0, ohm, at.LocalTimeOfDay())),
              "2026-12-08T11:42:06.123+01:00,0,0.300,OHM K\xCE\xA9,11:42:06:123,0.30000000000000004\r\n");
    for (double overload : {kOverload, -kOverload}) {
        const Reading ol{overload, 0, 23};
        EXPECT_EQ(CsvLine(at, ol, MakeTableTexts(7, ol, at.LocalTimeOfDay())),
                  std::string("2026-12-08T11:42:06.123+01:00,7,") + (overload > 0 ? "0L" : "-0L") +
                      ",TMP \xE2\x84\x83,11:42:06:123,\r\n");
    }
    EXPECT_EQ(CsvHeader(), "DateTime,Index,Value,Type,Time,Number\r\n");

    // Fields with separators are quoted and read back unchanged.
    const TableTexts odd{"1", "a,b", "say \"hi\"", "x\ny"};
    const std::string line = CsvLine(at, r, odd);
    EXPECT_NE(line.find(",\"a,b\",\"say \"\"hi\"\"\",\"x\ny\","), std::string::npos) << line;
    bool torn = true;
    const auto records = ParseCsv(line, &torn);
    EXPECT_FALSE(torn);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (std::vector<std::string>{"2026-12-08T11:42:06.123+01:00", "1", "a,b", "say \"hi\"",
                                                    "x\ny", "-123.4"}));
}

TEST(ReadingRecord, FullPrecisionReadsBackExactly) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    for (int i = 0; i < 10000; ++i) {
        const double v = i % 2 ? dist(rng) : std::round(dist(rng)) / 1000.0;
        const std::string text = FormatFullPrecision(v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
    EXPECT_EQ(FormatFullPrecision(1.234), "1.234");
    EXPECT_EQ(FormatFullPrecision(-0.0), "-0");
}

TEST(ReadingRecord, JsonLinesNameTheOverloadAndEscapeTexts) {
    const WallTime at{kMoment, 0};
    EXPECT_EQ(JsonLine(at, {1.234, 1, 1}),
              "{\"time\":\"2026-12-08T10:42:06.123+00:00\",\"value\":1.234,\"overload\":0,"
              "\"text\":\"1.234\",\"function\":\"DCV V\",\"unit\":\"V\"}\n");
    EXPECT_EQ(JsonLine(at, {-kOverload, 0, 12}),
              "{\"time\":\"2026-12-08T10:42:06.123+00:00\",\"value\":null,\"overload\":-1,"
              "\"text\":\"-0L\",\"function\":\"OHM K\xCE\xA9\",\"unit\":\"K\xCE\xA9\"}\n");
    EXPECT_NE(JsonLine(at, {kOverload, 0, 0})
                  .find("\"value\":null,\"overload\":1,\"text\":\"0L\",\"function\":"
                        "\"no define\",\"unit\":\"\"}"),
              std::string::npos);
    EXPECT_NE(JsonLine(at, {0.0, 0, 99}).find("\"function\":\"\",\"unit\":\"\""), std::string::npos)
        << "a function code outside the table";
}

TEST(ReadingRecord, ParserSkipsATornLastLineAndDamagedLines) {
    std::vector<std::string> fields;
    EXPECT_TRUE(ParseCsvLine("a,\"b,c\",", fields));
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "b,c", ""}));
    EXPECT_FALSE(ParseCsvLine("a,\"b,c", fields)) << "open quote";
    EXPECT_FALSE(ParseCsvLine("a,\"b\"c", fields)) << "text after the closing quote";
    EXPECT_FALSE(ParseCsvLine("a\nb", fields)) << "two lines";

    const std::string text = CsvHeader() + "1,2\r\n" + std::string("3,\0\0\0\r\n", 7) + "4,5\n" + "6,7";
    bool torn = false;
    int malformed = 0;
    const auto records = ParseCsv(text, &torn, &malformed);
    EXPECT_TRUE(torn);
    EXPECT_EQ(malformed, 1) << "a zero-filled line";
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1], (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(records[2], (std::vector<std::string>{"4", "5"}));
    ParseCsv("1,\"open", &torn);
    EXPECT_TRUE(torn);
}

} // namespace
} // namespace zelvox
