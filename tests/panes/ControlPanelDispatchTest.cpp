// The dispatch and RESET: readings from a pseudo-terminal meter reach the MAX/MIN fields, the
// table, the gauge and the graph in one tick; RESET empties the data and leaves the display.
#include "ControlPanelSupport.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"
#include "res/ControlIds.h"
#include "support/ShownDisplay.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace zelvox;
using namespace zelvox::paneltest;

// The four panes of the main window on one session, wired as the main window wires them.
struct FullRig {
    zelvox::testing::SessionHub hub;
    zelvox::testing::AllPanes panes{hub};
    ReadingsTable* table = panes.table.get();
    NeedleGauge* gauge = panes.gauge.get();
    TrendGraph* graph = panes.graph.get();
    ControlPanel* panel = panes.panel.get();

    ~FullRig() { panel->OnStop(); }
    template <class T> T* Child(int id) const { return panel->findChild<T*>(QString::number(id)); }
    QString Field(int id) const { return Child<QLineEdit>(id)->text(); }
    QTimer* DispatchTimer() { return hub.session.findChild<QTimer*>(QStringLiteral("dispatchTimer")); }

    void Start(const zelvox::testing::Pty& pty) {
        hub.settings.portName = pty.SlavePath();
        hub.settings.samplingRate = 120;
        panel->OnStart();
    }
    // One reading from the meter, handed out by the sampling thread's dispatch: the table has
    // one row more when it is done.
    bool Measure(zelvox::testing::Pty& pty, const char* text, int function) {
        const int rows = table->RowCount();
        const auto frame = EncodeReading(text, function);
        if (!frame || !pty.Write(*frame))
            return false;
        return WaitUntil([&] { return table->RowCount() == rows + 1; }, 5000);
    }
};

const QRegularExpression kTime(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d$"));

TEST(PanelDispatch, FieldsFollowMaxAndMinOfEachRun) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    FullRig f;
    f.Start(pty);

    struct Step {
        const char* text;
        int function;
        const char* max; // nullptr: MAX and its time stay as they were
        const char* min;
    };
    const Step steps[] = {
        {"1.234", kDcVolt, "1.234V", "1.234V"}, // first reading of a run sets both
        {"0.500", kDcVolt, nullptr, "0.500V"},
        {"0L", kDcVolt, nullptr, nullptr}, // overload: neither moves
        {"2.000", kDcVolt, "2.000V", nullptr},
        {"230", kDcMillivolt, "230mV", "230mV"}, // another function starts a new run
        {"230", kDcMillivolt, "230mV", "230mV"}, // equal values renew both
    };
    const double values[] = {1.234, 0.5, kOverload, 2.0, 230.0, 230.0};
    int row = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.text);
        const QString before[4] = {f.Field(kMaxValueField), f.Field(kMaxTimeField), f.Field(kMinValueField),
                                   f.Field(kMinTimeField)};
        ASSERT_TRUE(f.Measure(pty, s.text, s.function));
        if (s.max) {
            EXPECT_EQ(f.Field(kMaxValueField), QString::fromLatin1(s.max));
            EXPECT_EQ(f.Child<QLineEdit>(kMaxValueField)->cursorPosition(), 0)
                << "a narrow field shows the value's start";
            EXPECT_TRUE(kTime.match(f.Field(kMaxTimeField)).hasMatch())
                << f.Field(kMaxTimeField).toStdString();
        } else {
            EXPECT_EQ(f.Field(kMaxValueField), before[0]);
            EXPECT_EQ(f.Field(kMaxTimeField), before[1]);
        }
        if (s.min) {
            EXPECT_EQ(f.Field(kMinValueField), QString::fromLatin1(s.min));
            EXPECT_TRUE(kTime.match(f.Field(kMinTimeField)).hasMatch())
                << f.Field(kMinTimeField).toStdString();
        } else {
            EXPECT_EQ(f.Field(kMinValueField), before[2]);
            EXPECT_EQ(f.Field(kMinTimeField), before[3]);
        }
        // The same tick served the table, the gauge and the graph with this reading.
        EXPECT_EQ(f.table->RowCount(), row + 1);
        EXPECT_EQ(f.gauge->gaugeValue(), values[row]);
        EXPECT_EQ(f.graph->TrendFunction(), s.function);
        EXPECT_EQ(f.hub.history().readingPending, 0);
        EXPECT_FALSE(f.DispatchTimer()->isActive());
        ++row;
    }
    EXPECT_EQ(f.table->CellText(0, 1), QStringLiteral("1.234"));
    EXPECT_EQ(f.table->CellText(4, 1), QStringLiteral("230"));
    EXPECT_EQ(f.hub.history().Count(), 6);
    EXPECT_EQ(f.hub.history().RunStart(), 4); // the run of mV readings began at the fifth
    EXPECT_EQ(f.hub.stats().maxValue, 230.0);
}

TEST(PanelDispatch, ResetEmptiesTheDataAndLeavesDisplayAndFields) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    FullRig f;
    f.Start(pty);
    ASSERT_TRUE(f.Measure(pty, "5.000", kDcVolt));
    ASSERT_TRUE(f.Measure(pty, "3.000", kDcVolt));
    const QString fields[4] = {f.Field(kMaxValueField), f.Field(kMaxTimeField), f.Field(kMinValueField),
                               f.Field(kMinTimeField)};
    const auto mirror = zelvox::testing::ShownDisplay(*f.panel);
    ASSERT_GT(f.graph->PageCount(), 0);

    f.DispatchTimer()->start(); // as if the sampling thread had just armed it
    f.panel->OnReset();

    EXPECT_FALSE(f.DispatchTimer()->isActive());
    EXPECT_FALSE(f.hub.session.Paused());
    EXPECT_TRUE(f.hub.session.IsRunning());
    EXPECT_EQ(f.hub.history().Count(), 0);
    EXPECT_EQ(f.hub.history().RunStart(), 0);
    EXPECT_EQ(f.hub.history().lastFunctionCode, 0);
    EXPECT_EQ(f.table->RowCount(), 0);
    EXPECT_EQ(f.gauge->gaugeValue(), 0.0);
    EXPECT_EQ(f.graph->PageCount(), 0);
    EXPECT_EQ(f.graph->TrendFunction(), 0);
    // What RESET leaves alone.
    EXPECT_EQ(f.hub.stats().maxValue, 5.0);
    EXPECT_EQ(f.hub.stats().minValue, 3.0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f.Field(kMaxValueField + i), fields[i]);
    EXPECT_EQ(zelvox::testing::ShownDisplay(*f.panel), mirror);

    // The next reading of the same function starts a new run: MAX and MIN restart from it.
    ASSERT_TRUE(f.Measure(pty, "4.000", kDcVolt));
    EXPECT_EQ(f.Field(kMaxValueField), QStringLiteral("4.000V"));
    EXPECT_EQ(f.Field(kMinValueField), QStringLiteral("4.000V"));
    EXPECT_EQ(f.table->RowCount(), 1);
    EXPECT_EQ(f.hub.history().Count(), 1);
}

TEST(PanelDispatch, WorksWithNoOtherPanes) {
    PanelRig rig; // no table, gauge or graph
    MeterSession& session = rig.session();
    auto* timer = session.findChild<QTimer*>(QStringLiteral("dispatchTimer"));
    ASSERT_NE(timer, nullptr);
    session.History().readingPending = 1;
    timer->start();
    session.DispatchReading(); // the reading of a session that never started: 0, no function
    EXPECT_EQ(rig.Child<QLineEdit>(kMaxValueField)->text(), QStringLiteral("0"));
    EXPECT_TRUE(kTime.match(rig.Child<QLineEdit>(kMaxTimeField)->text()).hasMatch());
    EXPECT_TRUE(kTime.match(rig.Child<QLineEdit>(kMinTimeField)->text()).hasMatch());
    EXPECT_EQ(session.History().readingPending, 0);
    EXPECT_FALSE(timer->isActive());

    session.History().lastFunctionCode = 7;
    rig.panel->OnReset();
    EXPECT_EQ(session.History().lastFunctionCode, 0);
}

TEST(PanelDispatch, ArmingAgainReplacesTheEarlierArming) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    FullRig f;
    f.Start(pty);
    const auto frame = EncodeReading("5", kDcVolt);
    ASSERT_TRUE(frame && pty.Write(*frame));
    // The UI thread takes no events for three sampling periods: the sampling thread, seeing
    // the reading still pending, asks for its dispatch at each of them.
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    ASSERT_TRUE(WaitUntil([&] { return f.table->RowCount() > 0; }, 2000));
    zelvox::testing::SpinFor(60); // time for more ticks, if the timer kept running
    EXPECT_EQ(f.table->RowCount(), 1);
    EXPECT_FALSE(f.DispatchTimer()->isActive());
}

TEST(PanelDispatch, ExitAsksTheMainWindowToClose) {
    PanelRig rig;
    int requests = 0;
    QObject::connect(rig.panel.get(), &ControlPanel::exitRequested, [&] { ++requests; });
    rig.panel->OnExit();
    EXPECT_EQ(requests, 1);
}

} // namespace
