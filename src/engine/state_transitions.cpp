#include "engine/state_transitions.h"

#include "engine/task_state.h"

bool IsStateChangeAllowed(std::uint32_t from, std::uint32_t to) {
    std::uint32_t allowed = 0;
    switch (from) {
    case kStateNone:
        return to != kStateNone;
    case kStateWaitPreparing:
        allowed = kStateWaitPreparing | kStatePreparing | kStateWaiting | kStateError;
        break;
    case kStatePreparing:
        allowed = kStatePreparing | kStateWaiting | kStateError;
        break;
    case kStateWorking:
        allowed = kStateWorking | kStatePaused | kStateError | kStateCompleted | kStateStop;
        break;
    case kStatePaused:
        allowed = kStatePaused | kStateWaiting | kStateCompleted | kStateStop;
        break;
    case kStateWaiting:
        allowed = kStateWorking | kStatePaused | kStateWaiting | kStateError | kStateCompleted |
                  kStateStop;
        break;
    case kStateError:
        allowed = kStateWaitPreparing | kStateWaiting | kStateError | kStateCompleted | kStateStop;
        break;
    case kStateCompleted:
        allowed = kStateCompleted;
        break;
    case kStateStop:
        allowed = kStateWaiting;
        break;
    default:
        return false;
    }
    // Only single-bit states are targets: a mask of several states is not a state.
    return to != kStateNone && (to & (to - 1)) == 0 && (allowed & to) != 0;
}
