#pragma once

#include <cstdint>
#include <string>

// What the task container tells the rest of the engine: which tasks and sub-tasks changed (the
// front end polls for them) and which finished task leaves the database. The transfer manager
// and the dispatcher provide it; without one nothing is told.
class ITaskMgrEvents {
public:
    virtual ~ITaskMgrEvents() = default;

    virtual void AddChangedTaskId(const std::string& groupId, const std::string& taskId) = 0;
    virtual void AddChangedSubTaskId(const std::string& taskId, const std::string& path) = 0;
    // Queues the removal of a finished task's row and folder, keeping it in memory.
    virtual void QueueDeleteTaskDb(const std::string& taskId) = 0;
};

// Tells that a task changed (when there is someone to tell) and logs
// "AddChangedTaskId:id:%s;state:%s".
void TellTaskChanged(ITaskMgrEvents* events, const std::string& groupId, const std::string& taskId,
                     std::uint32_t state);
