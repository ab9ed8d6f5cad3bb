#include "engine/task_state.h"

namespace {

struct StateName {
    TaskState state;
    std::string_view fullName;
    std::string_view shortName;
};

// Search order matters: "WaitPreparing" contains "Preparing", so it comes first.
constexpr StateName kStateNames[] = {
    {kStateWaitPreparing, "StateWaitPreparing", "WaitPreparing"},
    {kStatePreparing, "StatePreparing", "Preparing"},
    {kStateWorking, "StateWorking", "Working"},
    {kStatePaused, "StatePaused", "Paused"},
    {kStateWaiting, "StateWaiting", "Waiting"},
    {kStateError, "StateError", "Error"},
    {kStateCompleted, "StateCompleted", "Completed"},
    {kStateStop, "StateStop", "Stop"},
};

} // namespace

std::string_view TaskStateName(std::uint32_t state) {
    if (state == kStateNone) {
        return "StateNone";
    }
    for (const StateName& name : kStateNames) {
        if (name.state == state) {
            return name.fullName;
        }
    }
    return {};
}

TaskState ParseTaskState(std::string_view text) {
    for (const StateName& name : kStateNames) {
        if (text.find(name.shortName) != std::string_view::npos) {
            return name.state;
        }
    }
    return kStateNone;
}
