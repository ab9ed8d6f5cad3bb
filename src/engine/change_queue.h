#pragma once

#include "engine/task_changer.h"

#include <cstddef>
#include <memory>
#include <string>

class CTaskMgr;

// Queues a change on the running engine's dispatcher; without a dispatcher (the engine is not
// started) the change is dropped.
void QueueChange(std::unique_ptr<CTaskInfoChangerBase> changer);

template <typename TChanger, typename... Args>
void QueueNew(Args&&... args) {
    QueueChange(std::make_unique<TChanger>(std::forward<Args>(args)...));
}

// The engine's task container; null before the engine starts.
CTaskMgr* EngineTasks();

// Forgets everything the dispatcher queued for the task.
void PurgeTask(const std::string& taskId);
// Forgets the sub-task's queued ranges so the dispatcher queues it afresh; how often that
// happened to it in this run of its task (0 without a dispatcher).
std::size_t RestartSubTaskRanges(const std::string& taskId, const std::string& path);

// Stops everything that works for the task: the dispatcher's queues, its preparation, its HTTP
// transfers and its part-download workers.
void StopTaskWorkers(const std::string& taskId);
