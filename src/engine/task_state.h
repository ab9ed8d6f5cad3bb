#pragma once

#include <cstdint>
#include <string_view>

// A task state has exactly one bit set, so code can select tasks by a mask of states.
enum TaskState : std::uint32_t {
    kStateNone = 0,
    kStateWaitPreparing = 1,
    kStatePreparing = 2,
    kStateWorking = 4,
    kStatePaused = 8,
    kStateWaiting = 16,
    kStateError = 32,
    kStateCompleted = 64,
    kStateStop = 128,
};

// "StateNone", "StateWaitPreparing", ...; empty for a value that is not a state.
std::string_view TaskStateName(std::uint32_t state);

// The first short name found anywhere in the text, in the order WaitPreparing, Preparing,
// Working, Paused, Waiting, Error, Completed, Stop; 0 when none is found. Full and short names
// both parse.
TaskState ParseTaskState(std::string_view text);
