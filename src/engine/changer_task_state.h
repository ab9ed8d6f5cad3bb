#pragma once

#include "engine/task_changer.h"

#include <cstdint>
#include <string>

// Moves a task to another state along the allowed edges; state 0 deletes the task. A pause or
// stop during the preparation is kept as the task's pending state and applied when it ends.
class CChangerChangeTaskState final : public CTaskInfoChangerBase {
public:
    static constexpr std::uint32_t kDelete = 0;

    CChangerChangeTaskState(std::string taskId, std::uint32_t state)
        : m_taskId(std::move(taskId)), m_state(state) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::uint32_t m_state;
};
