#pragma once

#include "engine/task_changer.h"

#include <cstdint>
#include <optional>
#include <string>

class CTaskEntry;

// A sub-task failed. The cancelled code (a pause, stop or delete ended its transfer) is
// ignored; when the task has nothing left but errors, the task fails too.
class CChangerSubTaskError final : public CTaskInfoChangerBase {
public:
    CChangerSubTaskError(std::string taskId, std::string subTaskPath, std::int32_t code,
                         std::string text)
        : m_taskId(std::move(taskId)), m_subTaskPath(std::move(subTaskPath)), m_code(code),
          m_text(std::move(text)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::string m_subTaskPath;
    std::int32_t m_code;
    std::string m_text;
};

// A task failed: it goes to Error with a retry time and its workers stop.
class CChangerTaskError final : public CTaskInfoChangerBase {
public:
    CChangerTaskError(std::string taskId, std::int32_t code, std::string text)
        : m_taskId(std::move(taskId)), m_code(code), m_text(std::move(text)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::int32_t m_code;
    std::string m_text;
};

struct AggregatedError {
    std::int32_t code = 0;
    std::string text;
};

// The task's error when some of its sub-tasks failed and every other one completed: the first
// failed sub-task's code and text, or 65535 ("multi errors!") when the codes differ. nullopt
// while a sub-task is still unfinished or none failed.
std::optional<AggregatedError> TaskFailure(const CTaskEntry& entry);
// Queues the task error when TaskFailure finds one.
void QueueTaskFailure(const CTaskEntry& entry);
