// The window's status-bar panes as any widget tool finds them: the labels of its status bar,
// by the object names they carry ("statusPane0" .. "statusPane3").
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

namespace zelvox::testing {

inline QLabel* StatusPaneOf(const QMainWindow& window, int pane) {
    return window.statusBar()->findChild<QLabel*>(QStringLiteral("statusPane%1").arg(pane));
}

} // namespace zelvox::testing
