#include "panes/ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>

namespace zelvox {

int ScreenHorizontalResolution() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 1024;
}

} // namespace zelvox
