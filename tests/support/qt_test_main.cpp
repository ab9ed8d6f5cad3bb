// Test main for the front end: one QCoreApplication for the process, so posted events can be
// delivered (tests pump them with QCoreApplication::processEvents while they wait).
#include "tracking/event_handoff.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

// Takes over each event before delivery, so the thread sanitizer sees events posted by
// background threads arrive through the queue that synchronised them.
class TestApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        event_handoff::TakeOver(event);
        return QCoreApplication::notify(receiver, event);
    }
};

} // namespace

int main(int argc, char** argv) {
    TestApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
