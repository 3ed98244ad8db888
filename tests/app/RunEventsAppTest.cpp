// Alarm events and notes beside a journal, read back by both readers: the Run View of files
// (--view) and the window's --load (into the live Run View); a note written in the Run View and
// one written from a shell into a running logger's events file.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FunctionCode.h"
#include "journal/RecordKeeper.h"
#include "panes/RunEventsDock.h"
#include "panes/RunPlot.h"
#include "panes/RunViewWindow.h"
#include "record/EventsFile.h"
#include "record/JournalFolder.h"
#include "runview/SpanStatistics.h"
#include "session/MeterSession.h"
#include "support/EventLoop.h"
#include "support/JournalFiles.h"
#include "support/Pty.h"
#include "support/ToolProcess.h"

#include <QDir>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <fstream>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726400000; // 2026-12-08T10:00:00+01:00, a reading a second

std::string At(int second) {
    return FormatIsoDateTime(WallTimeAt(kStart + second * 1000, 3600));
}

// What a reader made of the events: spans as drawn (lane, from, to in seconds from the start),
// notes (text, length in ms) and each lane's time outside limits over the whole run.
struct Seen {
    std::vector<std::array<std::int64_t, 3>> spans;
    std::vector<std::pair<std::string, std::int64_t>> notes;
    std::vector<std::int64_t> outside;
};

Seen Summary(const RunIndex& index) {
    Seen seen;
    for (const FiringSpan& s : index.Events().Spans())
        seen.spans.push_back({RunEvents::SpanLane(s, index), (s.fromMs - kStart) / 1000,
                              (RunEvents::SpanEnd(s, index) - kStart) / 1000});
    for (const RunEvent& e : index.Events().Events())
        if (e.kind == RunEvent::Kind::kNote)
            seen.notes.emplace_back(e.text, e.lengthMs);
    for (const LaneStatistics& st : SpanStatistics(index, INT64_MIN, INT64_MAX))
        seen.outside.push_back(st.outsideMs);
    return seen;
}

// Each part on its own, so that a failure prints what differs.
void ExpectSeen(const Seen& got, const Seen& want, const char* reader) {
    EXPECT_EQ(got.spans, want.spans) << reader;
    EXPECT_EQ(got.notes, want.notes) << reader;
    EXPECT_EQ(got.outside, want.outside) << reader;
}

// 100 readings: DCV V for the first 50, mA after (two lanes).
bool WriteRun(const QString& path) {
    return testing::WriteJournal(path, 100, kStart, 1000, [](int i) {
        return Reading{1.5, 3, static_cast<std::uint8_t>(i < 50 ? kDcVolt : kDcMilliampere)};
    });
}

TEST(RunEvents, EventsFilesReadBackTheSameByTheViewAndByLoad) {
    const struct {
        const char* name;
        std::string events; // the events file, empty for none
        Seen want;
    } cases[] = {
        {"a span closed and a note at an instant",
         "DateTime,Index,Rule,State,Value,Unit\r\n" + At(10) + ",11,high,firing,1.500,V\r\n" + At(20) +
             ",21,high,ok,1.500,V\r\n" + At(30) + ",31,\"swapped, \"\"B\"\"\",note,,\r\n",
         {{{0, 10, 20}}, {{"swapped, \"B\"", 0}}, {10000, 0}}},
        {"still firing at the end of the data, on the second lane",
         At(60) + ",61,low,firing,1.500,mA\r\n",
         {{{1, 60, 99}}, {}, {0, 39000}}},
        {"two rules overlapping, a repeat, damage and a torn last line",
         At(5) + ",6,a,firing,,\r\n" + At(8) + ",9,b,firing,,\r\n" + At(12) + ",13,a,ok,,\r\n" + At(5) +
             ",6,a,firing,,\r\nnot a row\r\n" + At(15) + ",16,b,ok,,\r\n" + At(16) + ",17,a,fir",
         {{{0, 5, 12}, {0, 8, 15}}, {}, {10000, 0}}},
        {"an ok with no firing before it, and a note over a span",
         At(3) + ",4,a,ok,,\r\n" + At(40) + ",41,cell two,note,5.250,s\r\n",
         {{}, {{"cell two", 5250}}, {0, 0}}},
        {"no events file", "", {{}, {}, {0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir, journals;
        const QString path = dir.filePath(QStringLiteral("2026-12-08T10-00-00.csv"));
        ASSERT_TRUE(WriteRun(path));
        if (!c.events.empty())
            std::ofstream(EventsFilePath(path.toStdString()), std::ios::binary) << c.events;

        RunViewWindow view;
        view.Open({path});
        ASSERT_TRUE(testing::WaitUntil([&] { return !view.IsReading(); }, 10000));
        ExpectSeen(Summary(view.Index()), c.want, "--view");

        testing::Pty pty;
        ASSERT_TRUE(pty.ok());
        CommandLine options;
        options.port = pty.SlavePath();
        options.journalDir = journals.path();
        options.load = path;
        ZelvoxApplication app;
        ASSERT_TRUE(app.InitInstance(options));
        MeterSession& session = app.Window()->Session();
        ASSERT_TRUE(testing::WaitUntil([&] { return !session.Loading(); }, 10000));
        ExpectSeen(Summary(*session.Keeper().LiveRun()), c.want, "--load");
        app.Window()->close();
    }
}

// The newest journal of folder, or empty.
QString NewestJournal(const QString& folder) {
    const auto journals = JournalsNewestFirst(folder.toStdString());
    return journals.empty() ? QString() : QString::fromStdString(journals.front());
}

std::vector<EventRow> Notes(const QString& journal) {
    std::uint64_t damaged = 0;
    std::vector<EventRow> notes;
    for (EventRow& row : ReadEventsFile(journal.toStdString(), &damaged))
        if (row.note)
            notes.push_back(std::move(row));
    return notes;
}

TEST(RunEvents, NotesFromAShellAndFromTheRunViewLandInTheEventsFile) {
    if (!testing::ToolsBuilt())
        GTEST_SKIP() << "zelvox-sim and zelvox-decode are not built";
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("logger")),
                  empty = tmp.filePath(QStringLiteral("none"));
    ASSERT_TRUE(QDir().mkpath(empty));
    QProcess sim, logger;
    const QString port = testing::StartSim(sim);
    ASSERT_FALSE(port.isEmpty());
    // No broker answers: the logger keeps its journal (its outbox) all the same.
    logger.start(testing::Tool("zelvox-decode"),
                 {QStringLiteral("--port"), port, QStringLiteral("--rate"), QStringLiteral("120"),
                  QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:1/lab/bench"),
                  QStringLiteral("--journal-dir"), folder, QStringLiteral("--alarm"),
                  QStringLiteral("any: above -1000000")});
    ASSERT_TRUE(logger.waitForStarted());
    QString journal;
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            journal = NewestJournal(folder);
            return !journal.isEmpty() && LoadJournal(journal).rows.size() >= 4;
        },
        15000));

    const auto note = [&](const QStringList& args, QString* err) {
        QProcess p;
        p.start(testing::Tool("zelvox-decode"), QStringList{QStringLiteral("--note")} + args);
        p.waitForFinished(10000);
        *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    };
    QString err;
    EXPECT_EQ(note({QStringLiteral("from the shell"), QStringLiteral("--port"), port,
                    QStringLiteral("--journal-dir"), folder},
                   &err),
              0)
        << err.toStdString();
    // No logger keeps a journal there, a blank note, a note with what only a logger takes.
    const struct {
        QStringList args;
        const char* said;
    } refused[] = {
        {{QStringLiteral("x"), QStringLiteral("--journal-dir"), empty},
         "no running logger keeps a journal in"},
        {{QStringLiteral(" \t "), QStringLiteral("--journal-dir"), folder}, "--note needs a text"},
        {{QStringLiteral("x"), QStringLiteral("--port"), port, QStringLiteral("--rate"),
          QStringLiteral("60")},
         "--note takes only --port and --journal-dir"},
        {{QStringLiteral("x")}, "--note needs the logger's --port NAME or its --journal-dir DIR"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(note(r.args, &err), 2) << r.said;
        EXPECT_TRUE(err.contains(QLatin1String(r.said))) << err.toStdString();
    }
    const std::size_t rows = LoadJournal(journal).rows.size();
    ASSERT_TRUE(testing::WaitUntil([&] { return LoadJournal(journal).rows.size() >= rows + 2; }, 10000));
    ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
    ASSERT_TRUE(logger.waitForFinished(10000));
    testing::EndProcess(sim);
    ASSERT_EQ(Notes(journal).size(), 1u);
    EXPECT_EQ(Notes(journal)[0].rule, "from the shell");
    const std::vector<JournalRow> all = LoadJournal(journal).rows;
    EXPECT_GT(Notes(journal)[0].index, all.front().index) << "carried by a row after the first";

    {
        // --view: the logger's rule fired at its first frame and ended with it; the shell's note.
        RunViewWindow view;
        view.Open({journal});
        ASSERT_TRUE(testing::WaitUntil([&] { return !view.IsReading(); }, 10000));
        ASSERT_EQ(view.Index().Events().Spans().size(), 1u);
        EXPECT_NE(view.Index().Events().Spans()[0].toMs, FiringSpan::kOpen) << "said ok at the clean end";
        ASSERT_EQ(Summary(view.Index()).notes.size(), 1u);
        // A note over the cursors' span, written beside the journal, the list naming both.
        const std::int64_t a = all[1].at.EpochMs(), b = all[3].at.EpochMs();
        view.Plot().SetCursor(0, a);
        view.Plot().SetCursor(1, b);
        QString why;
        ASSERT_TRUE(view.Events().AddNote(QStringLiteral("from the view"), &why)) << why.toStdString();
        view.BringUpToDate();
        EXPECT_EQ(view.Events().List().model()->rowCount(), static_cast<int>(view.Index().Events().Size()));
        EXPECT_TRUE(view.Events().List().model()->index(0, 0).data().toString().contains(
            QStringLiteral("alarm any firing")));
        // The readout says the time outside limits: all of the cursors' span, inside the firing.
        EXPECT_TRUE(view.ReadoutText().contains(
            QStringLiteral("time outside limits %1 s").arg(static_cast<double>(b - a) / 1000, 0, 'f', 3)))
            << view.ReadoutText().toStdString();
        const auto notes = Notes(journal);
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[1].rule, "from the view");
        EXPECT_EQ(notes[1].at.EpochMs(), a);
        EXPECT_EQ(NoteLengthMs(notes[1]), b - a);
        EXPECT_EQ(notes[1].index, all[1].index);
    }
}

} // namespace
} // namespace zelvox
