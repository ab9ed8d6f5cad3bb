#pragma once

#include "trans_text.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// What the engine's record of a task says about its progress.
struct TaskStatus {
    std::string state; // "StateWorking", ...
    std::uint64_t completeBytes = 0;
    std::uint64_t size = 0;
    int errorCode = 0;
    std::string errorInfo;
};

TaskStatus ReadTaskStatus(CTovuTransMgr& mgr, const std::string& taskId);

// Follows the tasks until every one has completed (true) or one has failed (false, with its
// code and message), printing "progress TASKID STATE BYTES/SIZE" for each task once a second
// unless quiet. Setting `stop` ends the wait as a cancelled failure.
bool FollowTasks(CTovuTransMgr& mgr, const std::vector<std::string>& taskIds, bool quiet,
                 const std::atomic<bool>& stop, FetchFailure& failure);
