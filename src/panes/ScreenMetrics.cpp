#include "panes/ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>

namespace zelvox {

namespace {
int screenWidthOverride = 0;
}

int ScreenHorizontalResolution() {
    if (screenWidthOverride > 0)
        return screenWidthOverride;
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 1024;
}

void SetScreenWidthOverride(int width) {
    screenWidthOverride = width;
}

} // namespace zelvox
