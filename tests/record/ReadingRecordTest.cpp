#include "record/RowCodec.h"
#include "support/JournalLines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace zelvox {
namespace {

// 2026-12-08 10:42:06.123 UTC.
constexpr std::int64_t kMoment = 1796726526123;

TEST(ReadingRecord, IsoTimesCarryMillisecondsAndTheOffsetAndReadBack) {
    const struct {
        std::int64_t epochMs;
        int offset;
        const char* iso;
    } cases[] = {
        {kMoment, 3600, "2026-12-08T11:42:06.123+01:00"},
        {kMoment, 0, "2026-12-08T10:42:06.123+00:00"},
        {kMoment, -(3 * 3600 + 1800), "2026-12-08T07:12:06.123-03:30"},
        {kMoment, -11 * 3600, "2026-12-07T23:42:06.123-11:00"},
        {-1, 0, "1969-12-31T23:59:59.999+00:00"},
        {951782400000, 0, "2000-02-29T00:00:00.000+00:00"},
    };
    for (const auto& c : cases) {
        const WallTime at = WallTimeAt(c.epochMs, c.offset);
        EXPECT_EQ(FormatIsoDateTime(at), c.iso);
        WallTime back;
        ASSERT_TRUE(ParseIsoDateTime(c.iso, back)) << c.iso;
        EXPECT_EQ(back.EpochMs(), c.epochMs) << c.iso;
        EXPECT_EQ(back.utcOffset.count(), c.offset) << c.iso;
    }
    EXPECT_EQ(FormatFileStamp(WallTimeAt(kMoment, 3600)), "2026-12-08T11-42-06");
    // The table's Time is the same moment's local time of day.
    EXPECT_EQ(FormatTime(WallTimeAt(kMoment, -11 * 3600)), u"23:42:06:123");

    WallTime t;
    for (const char* bad : {"2026-12-08T10:42:06.123Z", "2026-02-30T10:42:06.123+00:00",
                            "2026-12-08T24:00:00.000+00:00", "2026-12-08 10:42:06.123+00:00",
                            "2026-12-08T10:42:06.12+00:00x", "2026-12-08T10:42:06.-23+00:00", ""})
        EXPECT_FALSE(ParseIsoDateTime(bad, t)) << bad;

    // The local zone of this machine agrees with the C library.
    const WallTime now = WallTimeNow();
    const std::time_t secs = static_cast<std::time_t>(now.EpochMs() / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    const WallTime::Fields local = now.LocalFields();
    EXPECT_EQ(local.hour, tm.tm_hour);
    EXPECT_EQ(local.minute, tm.tm_min);
    EXPECT_EQ(local.second, tm.tm_sec);
}

TEST(ReadingRecord, CsvRowsHoldTheTableTextsAndTheFullValue) {
    const WallTime at = WallTimeAt(kMoment, 3600);
    const Reading r{-123.40000000000001, 3, 10};
    EXPECT_EQ(CsvLine(MakeDispatchedReading(1, 41, at, r)),
              "2026-12-08T11:42:06.123+01:00,41,-123.4,ACA uA,11:42:06:123,-123.4\r\n");
    const Reading ohm{0.1 + 0.2, 1, 12};
    EXPECT_EQ(CsvLine(MakeDispatchedReading(1, 0, at, ohm)),
              "2026-12-08T11:42:06.123+01:00,0,0.300,OHM K\xCE\xA9,11:42:06:123,0.30000000000000004\r\n");
    for (double overload : {kOverload, -kOverload}) {
        const Reading ol{overload, 0, 23};
        EXPECT_EQ(CsvLine(MakeDispatchedReading(2, 7, at, ol)),
                  std::string("2026-12-08T11:42:06.123+01:00,7,") + (overload > 0 ? "0L" : "-0L") +
                      ",TMP \xE2\x84\x83,11:42:06:123,\r\n");
    }
    EXPECT_EQ(CsvHeader(), "DateTime,Index,Value,Type,Time,Number\r\n");

    // Fields with separators are quoted and read back unchanged.
    const TableTexts odd{"1", "a,b", "say \"hi\"", "x\ny"};
    DispatchedReading dispatched = MakeDispatchedReading(1, 1, at, r);
    dispatched.texts = odd;
    const std::string line = CsvLine(dispatched);
    EXPECT_NE(line.find(",\"a,b\",\"say \"\"hi\"\"\",\"x\ny\","), std::string::npos) << line;
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
    const WallTime at = WallTimeAt(kMoment, 0);
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

TEST(ReadingRecord, TheCodecTakesARowOnlyWhenEveryFieldChecks) {
    for (const testing::JournalLine& c : testing::JournalLineTable()) {
        SCOPED_TRACE(c.name);
        JournalRow row;
        ASSERT_EQ(ReadJournalLine(c.line, row), c.kind) << c.line;
        if (c.kind != LineKind::Row)
            continue;
        EXPECT_EQ(row.index, c.index);
        // What is read back is written again byte for byte, and published with its run and Index.
        std::string again = CsvLine(MakeDispatchedReading(1, row.index, row.at, row.reading));
        again.resize(again.size() - 2);
        EXPECT_EQ(again, testing::GoodLine(c.index, row.reading));
        std::string message;
        BrokerMessage(row, "run\"1\n", message);
        std::string json = JsonLine(row.at, row.reading);
        json.resize(json.size() - 2);
        EXPECT_EQ(message, json + ",\"run\":\"run\\\"1\\u000a\",\"index\":" + std::to_string(c.index) + "}");
        EXPECT_EQ(FunctionCodeOfLabel(MakeTableTexts(0, row.reading, row.at).type), row.reading.functionCode);
    }
}

} // namespace
} // namespace zelvox
