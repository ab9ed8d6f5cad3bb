#pragma once

#include "engine/task_changer.h"
#include "engine/task_info.h"

#include <string>

// Adds a task built off the dispatcher thread, unless the container has the same task; gives it
// its id when it has none.
class CChangerAddNewTask final : public CTaskInfoChangerBase {
public:
    explicit CChangerAddNewTask(CTaskInfo task) : m_task(std::move(task)) {}
    void DoChange() override;

private:
    CTaskInfo m_task;
};

// Loads the stored tasks: all of them, or those of one group.
class CChangerLoadTaskFromDb final : public CTaskInfoChangerBase {
public:
    CChangerLoadTaskFromDb(bool all, std::string groupId)
        : m_all(all), m_groupId(std::move(groupId)) {}
    void DoChange() override;

private:
    bool m_all;
    std::string m_groupId;
};
