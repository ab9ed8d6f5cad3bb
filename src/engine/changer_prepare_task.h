#pragma once

#include "engine/task_changer.h"
#include "engine/task_info.h"

#include <string>
#include <vector>

// Sub-tasks found by a task's preparation. The finished one commits them and moves the task to
// its pending state (Waiting unless it was paused or stopped meanwhile).
class CChangerPrepareTask final : public CTaskInfoChangerBase {
public:
    CChangerPrepareTask(std::string taskId, std::vector<SubTaskSummary> subTasks, bool finished)
        : m_taskId(std::move(taskId)), m_subTasks(std::move(subTasks)), m_finished(finished) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::vector<SubTaskSummary> m_subTasks;
    bool m_finished;
};
