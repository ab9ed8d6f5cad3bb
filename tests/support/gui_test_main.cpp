// Test main for the windows: one QApplication on the offscreen platform (unless the caller
// chose another), so widgets can be created, shown, clicked and grabbed without a display.
#include "support/handoff_application.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing_support::HandOffApplication<QApplication> application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
