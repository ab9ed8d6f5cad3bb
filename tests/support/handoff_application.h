#pragma once

#include "tracking/event_handoff.h"

class QEvent;
class QObject;

namespace testing_support {

// A test's application that takes over each event before delivery, so the thread sanitizer
// sees events posted by background threads arrive through the queue that synchronised them.
template <typename Application>
class HandOffApplication : public Application {
public:
    using Application::Application;

    bool notify(QObject* receiver, QEvent* event) override {
        event_handoff::TakeOver(event);
        return Application::notify(receiver, event);
    }
};

} // namespace testing_support
