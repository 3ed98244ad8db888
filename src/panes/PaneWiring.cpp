#include "panes/PaneWiring.h"

#include "panes/ControlPanel.h"
#include "panes/NeedleGauge.h"
#include "panes/TrendGraph.h"
#include "session/MeterSession.h"

namespace zelvox {

void ConnectPanes(MeterSession& session, const SessionPanes& panes) {
    if (ControlPanel* panel = panes.panel) {
        QObject::connect(&session, &MeterSession::started, panel, &ControlPanel::ShowStarted);
        QObject::connect(&session, &MeterSession::stopped, panel, &ControlPanel::ShowStopped);
        QObject::connect(&session, &MeterSession::frameMirrored, panel, &ControlPanel::ApplySegmentChanges);
        QObject::connect(&session, &MeterSession::maxMinUpdated, panel, &ControlPanel::ShowMaxMin);
    }
    // Slots of one signal run in the order connected: graph before gauge on a dispatch, gauge
    // before graph on RESET.
    if (TrendGraph* graph = panes.graph) {
        QObject::connect(&session, &MeterSession::runCounted, graph, [graph](bool newRun) {
            if (newRun)
                graph->RestartPages();
            else
                graph->UpdatePageCount();
        });
        QObject::connect(&session, &MeterSession::readingDispatched, graph, [graph](const Reading& reading) {
            graph->ShowReading(reading.functionCode, reading.pointPosition);
        });
        // A loaded journal: its last page, as a run that had just been recorded would show.
        QObject::connect(&session, &MeterSession::readingsLoaded, graph, [graph](const Reading& last) {
            graph->LastPage();
            graph->ShowReading(last.functionCode, last.pointPosition);
        });
    }
    if (NeedleGauge* gauge = panes.gauge) {
        QObject::connect(&session, &MeterSession::readingDispatched, gauge, [gauge](const Reading& reading) {
            gauge->ShowReading(reading.functionCode, reading.pointPosition, reading.value);
        });
        QObject::connect(&session, &MeterSession::readingsLoaded, gauge, [gauge](const Reading& last) {
            gauge->ShowReading(last.functionCode, last.pointPosition, last.value);
        });
        QObject::connect(&session, &MeterSession::dataReset, gauge, &NeedleGauge::Reset);
    }
    if (TrendGraph* graph = panes.graph)
        QObject::connect(&session, &MeterSession::dataReset, graph, &TrendGraph::Reset);
}

} // namespace zelvox
