#pragma once

#include <cstdint>
#include <optional>

// The engine clock: milliseconds since 1970. The wall-clock second is read once when the program
// starts; time after that comes from the monotonic clock, so the value never goes backwards
// while the program runs, even when the system clock is changed.
std::uint64_t EngineNow();

// Tests drive the clock: while a value is set, EngineNow returns it. nullopt returns to the real
// clock.
void SetEngineClockForTesting(std::optional<std::uint64_t> now);
// Moves a set test clock forward.
void AdvanceEngineClockForTesting(std::uint64_t milliseconds);
