// The ids of the controls the user sees. Each control carries its id as its object name
// (ControlName), so tests and tools find a control by the same name the program gives it.
#pragma once

#include <QString>

namespace zelvox {

enum ControlId : int {
    kDialogOk = 1, // the port settings dialog's OK button
    // Trend graph strip.
    kSaveGraphButton = 1000,
    kPrintGraphButton = 1018,
    kPreviousPageButton = 1019,
    kNextPageButton = 1020,
    kLastPageButton = 1021,
    kFirstPageButton = 1022,
    kPageTotal = 1023,
    kPageBox = 1024,
    // Port settings dialog.
    kPortList = 1001,
    kFlashButton = 1002,
    kRateSlider = 1003,
    // Readings table.
    kReadingsList = 1004,
    // Control panel.
    kMaxValueField = 1005,
    kMaxTimeField = 1006,
    kMinValueField = 1007,
    kMinTimeField = 1008,
    kStartButton = 1009,
    kStopButton = 1010,
    kResetButton = 1011,
    kExitButton = 1012,
    kDisplayBackground = 1013,
    kMaxLabel = 1014,
    kMaxTimeLabel = 1015,
    kMinLabel = 1016,
    kMinTimeLabel = 1017,
    kFirstSegmentPicture = 2000, // segment picture s is kFirstSegmentPicture + s
};

inline QString ControlName(int id) {
    return QString::number(id);
}

} // namespace zelvox
