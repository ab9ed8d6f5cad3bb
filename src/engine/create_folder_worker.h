#pragma once

#include "engine/task_info.h"
#include "engine/worker_base.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

// Creates the local folders of download tasks, with all missing parents, and reports each as a
// completed sub-task (or its failure with the platform's code).
class CCreateFolderWorker final : public CWorkerBase {
public:
    CCreateFolderWorker() = default;
    ~CCreateFolderWorker() override;

    void Add(const CSubTaskInfo& folder);
    // Forgets the task's folders not yet created.
    void RemoveTask(const std::string& taskId);
    std::size_t QueuedCount() const;
    // Some folder of the task is queued or being created.
    bool HasTask(const std::string& taskId) const;
    void RequestStop() override;

protected:
    void DoWork() override;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<CSubTaskInfo> m_queue;
    std::string m_current; // task id of the folder being created
    std::atomic<bool> m_stop{false};
};
