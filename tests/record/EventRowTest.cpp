#include "record/EventsFile.h"
#include "record/JournalFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zelvox {
namespace {

TEST(EventRow, EventsFilesReadBackRowForRowAndPassOverEveryDamagedLine) {
    char dir[] = "/tmp/zelvox-events-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string journal = std::string(dir) + "/2026-12-10T03-12-00.csv";
    EXPECT_EQ(EventsFilePath(journal), std::string(dir) + "/2026-12-10T03-12-00.events.csv");
    EXPECT_FALSE(IsJournalName("2026-12-10T03-12-00.events.csv"));

    const std::vector<EventRow> rows = {
        {WallTimeAt(1796958727415, 3600), 12, "high", true, "4.500", "V"},
        {WallTimeAt(1796958727498, 3600), 13, "high", false, "0L", "K\u03A9"},
        {WallTimeAt(1796958732498, -12600), 9007199254740991, "no-data_2", true, "", ""},
    };
    {
        EventsFile file;
        int error = 0;
        for (const EventRow& row : rows)
            ASSERT_TRUE(file.Append(journal, row, &error)) << error;
        ASSERT_TRUE(file.Sync(&error));
    }
    EventsFile again; // a later program appends to the same file, without a second header
    int error = 0;
    ASSERT_TRUE(again.Append(journal, rows[0], &error));
    std::ofstream(EventsFilePath(journal), std::ios::app) << "2026-12-10T04:12:07.415+01:00,14,hi"; // torn
    ASSERT_TRUE(EventsFile().Append(journal, rows[1], &error)); // the next program's first row
    std::uint64_t damaged = 0;
    const std::vector<EventRow> back = ReadEventsFile(journal, &damaged);
    EXPECT_EQ(damaged, 1u);
    ASSERT_EQ(back.size(), 5u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        const EventRow& want = rows[i < 3 ? i : i - 3];
        EXPECT_EQ(EventCsvLine(back[i]), EventCsvLine(want));
        EXPECT_EQ(back[i].at.utcOffset, want.at.utcOffset);
    }
    EXPECT_EQ(EventCsvLine(rows[0]), "2026-12-11T04:12:07.415+01:00,12,high,firing,4.500,V\r\n");
    // Followed: read on from the last complete line; a line being written waits for its end.
    std::uint64_t end = 0;
    EXPECT_EQ(ReadEventsFile(journal, &damaged, 0, &end).size(), 5u);
    EXPECT_EQ(end, std::filesystem::file_size(EventsFilePath(journal)));
    std::ofstream(EventsFilePath(journal), std::ios::app) << "2026-12-10T04:12:07.415+01:00,14,hi";
    EXPECT_TRUE(ReadEventsFile(journal, &damaged, end, &end).empty());
    std::ofstream(EventsFilePath(journal), std::ios::app) << "gh,ok,4.100,V\r\n";
    const std::vector<EventRow> more = ReadEventsFile(journal, &damaged, end, &end);
    ASSERT_EQ(more.size(), 1u);
    EXPECT_EQ(more[0].index, 14);
    EXPECT_EQ(end, std::filesystem::file_size(EventsFilePath(journal)));
    std::filesystem::remove_all(dir);

    const struct {
        const char* line;
        LineKind kind;
    } lines[] = {
        {"\xEF\xBB\xBF"
         "DateTime,Index,Rule,State,Value,Unit\r",
         LineKind::Header},
        {"", LineKind::Blank},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,-12.34,mV", LineKind::Row},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1234,", LineKind::Row},
        {"\"2026-12-10T04:12:07.415+01:00\",12,\"high\",ok,-0L,\"\"", LineKind::Row},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,-12.34,mV,", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,-12.34", LineKind::Damaged},
        {"2026-12-10T04:12:07.415Z,12,high,ok,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,012,high,ok,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,9007199254740992,high,ok,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,,ok,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,hi gh,ok,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,\"hi,gh\",ok,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,pending,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,FIRING,1.000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1.0000,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1.,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1e3,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1.000,W", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1.000,\"V\"x", LineKind::Damaged},
        {"\xEF\xBB\xBF"
         "2026-12-10T04:12:07.415+01:00,12,high,ok,1.000,V",
         LineKind::Damaged},
        // Notes: any text in Rule, a span's length in seconds, or nothing.
        {"2026-12-10T04:12:07.415+01:00,12,\"charger swapped, \"\"B\"\"\",note,,", LineKind::Row},
        {"2026-12-10T04:12:07.415+01:00,12,cell \xC2\xB5 2,note,90.250,s", LineKind::Row},
        {"2026-12-10T04:12:07.415+01:00,12,x,note,90.25,s", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,x,note,90.250,", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,x,note,4.500,V", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,,note,,", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12, padded,note,,", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,\"tab\there\",note,,", LineKind::Damaged},
        {"2026-12-10T04:12:07.415+01:00,12,high,ok,1.000,s", LineKind::Damaged},
    };
    for (const auto& c : lines) {
        EventRow row;
        EXPECT_EQ(ReadEventLine(c.line, row), c.kind) << c.line;
    }
    EventRow row;
    EXPECT_EQ(ReadEventLine("2026-12-10T04:12:07.415+01:00,12," + std::string(65, 'a') + ",ok,,", row),
              LineKind::Damaged);
    EXPECT_EQ(ReadEventLine("2026-12-10T04:12:07.415+01:00,12," + std::string(64, 'a') + ",ok,,", row),
              LineKind::Row);
    EXPECT_EQ(ReadEventLine("2026-12-10T04:12:07.415+01:00,12,high,ok,," + std::string(500, ' '), row),
              LineKind::Damaged);

    // A note as written: its text cleaned and cut on a character, its span, read back the same.
    const std::string longest = std::string(kMaxNoteText - 1, 'n') + "\xC2\xB5";
    const struct {
        std::string text, kept;
        std::int64_t lengthMs;
        const char* value;
    } notes[] = {
        {"  swapped\tthe\ncharger \"B\", then 4.2 V  ", "swapped the charger \"B\", then 4.2 V", 0, ""},
        {longest, std::string(kMaxNoteText - 1, 'n'), 90250, "90.250"},
        {"x", "x", 999, "0.999"},
        {"\r\n", "", 0, ""},
    };
    for (const auto& n : notes) {
        const EventRow note = NoteRow(WallTimeAt(1796958727415, 3600), 7, n.text, n.lengthMs);
        EXPECT_EQ(note.rule, n.kept);
        EXPECT_EQ(note.value, n.value);
        EventRow back;
        const std::string line = EventCsvLine(note);
        if (n.kept.empty()) {
            EXPECT_EQ(ReadEventLine(line.substr(0, line.size() - 2), back), LineKind::Damaged) << line;
            continue;
        }
        ASSERT_EQ(ReadEventLine(line.substr(0, line.size() - 2), back), LineKind::Row) << line;
        EXPECT_TRUE(back.note);
        EXPECT_EQ(back.rule, n.kept);
        EXPECT_EQ(NoteLengthMs(back), n.lengthMs);
        EXPECT_EQ(EventCsvLine(back), line);
    }
}

} // namespace
} // namespace zelvox
