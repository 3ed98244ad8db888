// The meter session's own order of work: what each step of a dispatch and of RESET finds done
// before it, seen from the signals and the readings model the panes listen to.
#include "session/MeterSession.h"
#include "decode/FunctionCode.h"
#include "link/Settings.h"
#include "session/ReadingsModel.h"
#include "support/SessionHub.h"

#include <QStringList>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace zelvox;
using zelvox::testing::Dispatch;
using zelvox::testing::SessionHub;

// Writes one line per step of the session's work, with what that step found.
struct StepLog {
    QStringList lines;

    explicit StepLog(MeterSession& session) {
        const ReadingsModel& rows = session.Readings();
        const ReadingHistory& history = session.History();
        QObject::connect(&session, &MeterSession::maxMinUpdated, [&, this](const MaxMinTexts& texts) {
            lines << QStringLiteral("MAX/MIN rows=%1 max=%2")
                         .arg(rows.Count())
                         .arg(texts.maxValueText.has_value());
        });
        QObject::connect(&rows, &QAbstractItemModel::rowsInserted,
                         [&, this] { lines << QStringLiteral("table row=%1").arg(rows.Count() - 1); });
        QObject::connect(&session, &MeterSession::readingDispatched, [&, this](const Reading& reading) {
            lines << QStringLiteral("reading %1 rows=%2 pending=%3")
                         .arg(reading.value)
                         .arg(rows.Count())
                         .arg(history.readingPending.load());
        });
        QObject::connect(&rows, &QAbstractItemModel::modelReset, [&, this] {
            lines << QStringLiteral("table cleared history=%1 paused=%2 armed=%3")
                         .arg(history.Count())
                         .arg(session.Paused())
                         .arg(session.findChild<QTimer*>(QStringLiteral("dispatchTimer"))->isActive());
        });
        QObject::connect(&session, &MeterSession::dataReset, [&, this] {
            lines << QStringLiteral("panes reset rows=%1 paused=%2").arg(rows.Count()).arg(session.Paused());
        });
    }
};

TEST(MeterSession, DispatchServesMaxMinThenTableThenGraphAndGauge) {
    SessionHub hub;
    StepLog log(hub.session);
    Dispatch(hub.session, Reading{1.5, 1, kDcVolt});
    Dispatch(hub.session, Reading{0.5, 1, kDcVolt});
    EXPECT_EQ(log.lines, QStringList({
                             QStringLiteral("MAX/MIN rows=0 max=1"),
                             QStringLiteral("table row=0"),
                             QStringLiteral("reading 1.5 rows=1 pending=1"),
                             QStringLiteral("MAX/MIN rows=1 max=0"),
                             QStringLiteral("table row=1"),
                             QStringLiteral("reading 0.5 rows=2 pending=1"),
                         }));
    EXPECT_EQ(hub.history().readingPending, 0); // cleared once the panes are served
    EXPECT_EQ(hub.stats().maxValue, 1.5);
    EXPECT_EQ(hub.stats().minValue, 0.5);
}

TEST(MeterSession, ResetEmptiesHistoryThenTableThenPanesWhilePaused) {
    SessionHub hub;
    Dispatch(hub.session, Reading{1.5, 1, kDcVolt});
    Dispatch(hub.session, Reading{0.5, 1, kDcVolt});
    hub.session.findChild<QTimer*>(QStringLiteral("dispatchTimer"))->start();
    StepLog log(hub.session);
    hub.session.Reset();
    EXPECT_EQ(log.lines, QStringList({
                             QStringLiteral("table cleared history=0 paused=1 armed=0"),
                             QStringLiteral("panes reset rows=0 paused=1"),
                         }));
    EXPECT_FALSE(hub.session.Paused());
    // MAX/MIN stay; the next dispatch of the same function starts a new run from row 0.
    EXPECT_EQ(hub.stats().maxValue, 1.5);
    Dispatch(hub.session, Reading{0.7, 1, kDcVolt});
    EXPECT_EQ(hub.stats().maxValue, 0.7);
    EXPECT_EQ(hub.session.Readings().CellText(0, 0), QStringLiteral("0"));
}

} // namespace

TEST(MeterSession, ATableHoldingTheLargestIndexRecordsNoMoreAndSaysSoOnce) {
    SessionHub hub;
    StepLog log(hub.session);
    int full = 0;
    QObject::connect(&hub.session, &MeterSession::tableFull, [&] { ++full; });
    hub.session.BeginLoad(kMaxRowIndex);
    hub.session.AddLoadedRows({JournalRow{Reading{2.5, 1, kDcVolt}, WallTimeAt(0), kMaxRowIndex}});
    EXPECT_EQ(hub.session.EndLoad(), 0);
    log.lines.clear();
    Dispatch(hub.session, Reading{1.5, 1, kDcVolt});
    Dispatch(hub.session, Reading{0.5, 1, kDcVolt});
    EXPECT_EQ(full, 1);
    EXPECT_EQ(hub.session.Readings().Count(), 1);
    EXPECT_EQ(hub.session.Readings().IndexAt(0), kMaxRowIndex);
    // The loaded 2.5 stays MAX; the gauge and the graph still follow the meter.
    EXPECT_EQ(log.lines,
              QStringList(
                  {QStringLiteral("MAX/MIN rows=1 max=0"), QStringLiteral("reading 1.5 rows=1 pending=1"),
                   QStringLiteral("MAX/MIN rows=1 max=0"), QStringLiteral("reading 0.5 rows=1 pending=1")}));
}
