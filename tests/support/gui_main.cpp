// GoogleTest entry point for tests that need a QApplication (widgets, timers, queued signals).
#include "support/TestState.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the cases (CTest's discovery) needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    zelvox::testing::KeepStateUnderTheBuildTree();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Tests close windows freely; that must not end the application.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
