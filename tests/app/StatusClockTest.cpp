// The status bar clock: each tick repaints its own pane once, and nothing else of the window.
#include "app/MainWindow.h"
#include "link/Settings.h"
#include "support/StatusPanes.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QStatusBar>
#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace zelvox;
using zelvox::testing::StatusPaneOf;

namespace {

// Counts paints per widget, by object name or class.
struct Paints : QObject {
    std::map<std::string, int> count;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QString name = watched->objectName();
            ++count[name.isEmpty() ? watched->metaObject()->className() : name.toStdString()];
        }
        return false;
    }
};

} // namespace

TEST(StatusClock, TickRepaintsItsPaneAlone) {
    Settings settings;
    MainWindow window(settings);
    window.show();
    window.UpdateClock(); // the first tick may settle the pane once
    for (int pass = 0; pass < 3; ++pass)
        QApplication::processEvents();
    const QRect before = StatusPaneOf(window, kClockPane)->geometry();

    Paints paints;
    qApp->installEventFilter(&paints);
    constexpr int kTicks = 3;
    for (int tick = 0; tick < kTicks; ++tick) {
        window.UpdateClock();
        QApplication::processEvents();
        QApplication::processEvents();
    }
    qApp->removeEventFilter(&paints);
    EXPECT_EQ(paints.count["statusPane1"], kTicks);
    paints.count.erase("statusPane1");
    for (const auto& [name, n] : paints.count)
        ADD_FAILURE() << name << " repainted " << n << " times";
    EXPECT_EQ(StatusPaneOf(window, kClockPane)->geometry(), before);
    EXPECT_EQ(StatusPaneOf(window, kClockPane)->text().size(), 19)
        << StatusPaneOf(window, kClockPane)->text().toStdString();
}
