#pragma once

#include "engine/task_changer.h"

#include <string>

// Removes the per-task folders in the data folder (named by a task id) that belong to no task of
// the container. Does nothing until the container has loaded the stored tasks.
class CChangerDeleteTmpFile final : public CTaskInfoChangerBase {
public:
    void DoChange() override;
};

// Drops a finished task's row and folder from the store; the task stays in memory.
class CChangerDeleteTaskDb final : public CTaskInfoChangerBase {
public:
    explicit CChangerDeleteTaskDb(std::string taskId) : m_taskId(std::move(taskId)) {}
    void DoChange() override;

private:
    std::string m_taskId;
};
