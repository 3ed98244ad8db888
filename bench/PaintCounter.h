// Repaint counts per pane, for the idle-cost benchmark. Off unless ZELVOX_PAINT_COUNTS names a
// file; then every paint of a widget in the main window adds one to its pane's counter, kept in
// that file (memory-mapped), so a tool can read the counts while the program runs without the
// program waking up for it.
#pragma once

class QWidget;

namespace zelvox {

// Watches `window` and every widget under it (widgets added later included). Does nothing when
// the environment variable is unset or the file cannot be mapped.
void InstallPaintCounters(QWidget* window);

} // namespace zelvox
