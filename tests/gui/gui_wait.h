#pragma once

#include "support/temp_dir.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>

namespace gui_testing {

// Polls `condition` with the posted events delivered in between, until it holds or the
// deadline passes.
inline bool WaitPumping(const std::function<bool()>& condition,
                        std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
    return testing_support::WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return condition();
        },
        deadline);
}

} // namespace gui_testing
