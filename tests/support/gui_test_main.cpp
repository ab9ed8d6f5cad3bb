// Test main for the windows: one QApplication on the offscreen platform (unless the caller
// chose another), so widgets can be created, shown, clicked and grabbed without a display.
#include "tracking/event_handoff.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace {

// Takes over each event before delivery, so the thread sanitizer sees events posted by
// background threads arrive through the queue that synchronised them.
class TestApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        event_handoff::TakeOver(event);
        return QApplication::notify(receiver, event);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TestApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
