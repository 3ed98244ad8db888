// How the panes follow the meter session: the one place that says which pane takes which
// signal, and in which order. The main window and the tests wire the panes through it.
#pragma once

namespace zelvox {

class MeterSession;
class ControlPanel;
class TrendGraph;
class NeedleGauge;

// Any pane may be null (a test with fewer panes). The readings table needs no wiring: it shows
// the session's readings model.
struct SessionPanes {
    ControlPanel* panel = nullptr;
    TrendGraph* graph = nullptr;
    NeedleGauge* gauge = nullptr;
};

// Connects the panes to the session: the control panel to the run state, the segment mirror
// and MAX/MIN; the dispatched reading (and the last of a loaded journal) to the graph, then the
// gauge; RESET to the gauge, then the graph; the graph's page counter to every dispatch.
void ConnectPanes(MeterSession& session, const SessionPanes& panes);

} // namespace zelvox
