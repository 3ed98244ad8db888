// Drives the panes the way the reading dispatch does, for the pane tests.
#pragma once

#include "decode/Reading.h"
#include "panes/NeedleGauge.h"
#include "panes/ReadingsTable.h"
#include "panes/TrendGraph.h"
#include "support/PaneHub.h"

#include <QImage>
#include <QWidget>
#include <memory>

namespace zelvox::testing {

// Store (as the reader does), then the dispatch steps in their order: statistics and pages,
// table row, graph, gauge; finally the pending mark is cleared.
inline void Dispatch(PaneHub& hub, const Reading& reading, const TimeOfDay& at = {}) {
    hub.history.StoreReading(reading);
    hub.stats.UpdateMaxMin(reading, hub.history, hub.graph);
    if (hub.data)
        hub.data->AddReading(reading.pointPosition, reading.functionCode, reading.value, at);
    if (hub.graph)
        hub.graph->ShowReading(reading.functionCode, reading.pointPosition);
    if (hub.gauge)
        hub.gauge->ShowReading(reading.functionCode, reading.pointPosition, reading.value);
    hub.history.readingPending = 0;
}

// RESET's steps for the history and the three panes.
inline void ResetPanes(PaneHub& hub) {
    hub.history.Reset();
    if (hub.data)
        hub.data->Clear();
    if (hub.gauge)
        hub.gauge->Reset();
    if (hub.graph)
        hub.graph->Reset();
}

// A pane of the given size, initialised as the main frame does and registered in the hub.
template <class Pane>
std::unique_ptr<Pane> MakePane(PaneHub& hub, Pane* PaneHub::*slot, int width, int height) {
    auto pane = std::make_unique<Pane>(&hub);
    pane->resize(width, height);
    pane->InitialUpdate();
    hub.*slot = pane.get();
    return pane;
}

inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kBlue = 0x0000FF;
constexpr QRgb kGrey = 0xDCDCDC;
constexpr QRgb kWhite = 0xFFFFFF;

} // namespace zelvox::testing
