// Test main for the front end: one QCoreApplication for the process, so posted events can be
// delivered (tests pump them with QCoreApplication::processEvents while they wait).
#include "support/handoff_application.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    testing_support::HandOffApplication<QCoreApplication> application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
