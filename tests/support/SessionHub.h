// A stand-in for the main window in pane and export tests: the settings, a real meter session,
// the status bar texts, and panes made and wired as the main window makes and wires them.
#pragma once

#include "decode/Reading.h"
#include "export/ExportSupport.h"
#include "link/Settings.h"
#include "panes/ControlPanel.h"
#include "panes/NeedleGauge.h"
#include "panes/PaneWiring.h"
#include "panes/ReadingsTable.h"
#include "panes/ScreenMetrics.h"
#include "panes/TrendGraph.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QString>
#include <array>
#include <memory>

namespace zelvox::testing {

struct SessionHub {
    Settings settings;
    MeterSession session{settings};
    std::array<QString, 4> status;

    ReadingHistory& history() { return session.History(); }
    Statistics& stats() { return session.Stats(); }
    // The exports' progress, into status pane 3 as in the program.
    virtual void Progress(const QString& text) { status[3] = text; }
    ProgressText ProgressSink() {
        return [this](const QString& text) { Progress(text); };
    }
    virtual ~SessionHub() = default;
};

// One reading through the real pipeline: stored as the reader stores it, then dispatched by
// the session to whatever panes are wired to it.
inline void Dispatch(MeterSession& session, const Reading& reading) {
    session.History().StoreReading(reading);
    session.DispatchReading(reading);
}

// Panes of the main window's sizes, each given its first update as the main window does. Not
// wired: ConnectPanes does that, for all of them at once.
inline std::unique_ptr<TrendGraph> MakeGraph(SessionHub& hub, int width = 450, int height = 279) {
    auto graph = std::make_unique<TrendGraph>(hub.session);
    graph->resize(width, height);
    graph->InitialUpdate();
    QObject::connect(graph.get(), &TrendGraph::hintChanged,
                     [&hub](const QString& hint) { hub.status[0] = hint; });
    return graph;
}

inline std::unique_ptr<ReadingsTable> MakeTable(SessionHub& hub, int width = 480, int height = 279) {
    auto table = std::make_unique<ReadingsTable>(hub.session.Readings());
    table->resize(width, height);
    table->InitialUpdate();
    return table;
}

inline std::unique_ptr<NeedleGauge> MakeGauge(int width = 410, int height = 227) {
    auto gauge = std::make_unique<NeedleGauge>();
    gauge->resize(width, height);
    gauge->InitialUpdate();
    return gauge;
}

// The four panes of the main window on one session, wired together.
struct AllPanes {
    std::unique_ptr<ReadingsTable> table;
    std::unique_ptr<NeedleGauge> gauge;
    std::unique_ptr<TrendGraph> graph;
    std::unique_ptr<ControlPanel> panel;

    explicit AllPanes(SessionHub& hub, QSize panelSize = QSize(520, 227))
        : table(MakeTable(hub)), gauge(MakeGauge()), graph(MakeGraph(hub)),
          panel(std::make_unique<ControlPanel>(&hub.session, IsWideLayout(ScreenHorizontalResolution()))) {
        panel->resize(panelSize);
        panel->InitialUpdate();
        panel->show();
        ConnectPanes(hub.session, SessionPanes{panel.get(), graph.get(), gauge.get()});
    }
};

} // namespace zelvox::testing
