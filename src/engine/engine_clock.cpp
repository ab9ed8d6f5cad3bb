#include "engine/engine_clock.h"

#include <atomic>
#include <chrono>

namespace {

struct ClockBase {
    std::uint64_t wallMs;
    std::chrono::steady_clock::time_point start;
};

const ClockBase& Base() {
    static const ClockBase base = [] {
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wall).count();
        return ClockBase{static_cast<std::uint64_t>(seconds) * 1000,
                         std::chrono::steady_clock::now()};
    }();
    return base;
}

// Taken at program start rather than at the first call.
[[maybe_unused]] const ClockBase& g_baseAtStart = Base();

std::atomic<bool> g_testClockSet{false};
std::atomic<std::uint64_t> g_testClock{0};

} // namespace

std::uint64_t EngineNow() {
    if (g_testClockSet.load(std::memory_order_acquire)) {
        return g_testClock.load(std::memory_order_acquire);
    }
    const ClockBase& base = Base();
    const auto elapsed = std::chrono::steady_clock::now() - base.start;
    return base.wallMs +
           static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void SetEngineClockForTesting(std::optional<std::uint64_t> now) {
    if (now) {
        g_testClock.store(*now, std::memory_order_release);
        g_testClockSet.store(true, std::memory_order_release);
    } else {
        g_testClockSet.store(false, std::memory_order_release);
    }
}

void AdvanceEngineClockForTesting(std::uint64_t milliseconds) {
    g_testClock.fetch_add(milliseconds, std::memory_order_acq_rel);
}
