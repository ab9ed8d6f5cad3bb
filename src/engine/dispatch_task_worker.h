#pragma once

#include "engine/create_folder_worker.h"
#include "engine/task_changer.h"
#include "engine/transfer_workers.h"
#include "engine/worker_base.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CTaskMgr;
class CTaskEntry;

// The engine's scheduler. Every pass (at most 50 ms apart, sooner when a change is queued) it
// prepares new tasks, turns the missing parts of Waiting and Working downloads into ranges,
// launches and splits part-download workers within the concurrency budget, retries failed
// tasks, watches running ones, applies the queued changes and lets the stores flush. All
// scheduling happens on its thread; other threads only queue changes.
class CDispatchTaskWorker final : public CWorkerBase {
public:
    static constexpr std::chrono::milliseconds kPassInterval{50};
    // Passes woken early by a queued change still start at least this far apart.
    static constexpr std::chrono::milliseconds kMinPassGap{5};
    // Ranges are only built while the queue holds at most this many; also the number of
    // sub-tasks looked at per task and pass.
    static constexpr std::size_t kQueueRefillLevel = 20;
    // A worker is split only while its remaining range is larger than this.
    static constexpr std::uint64_t kMinSplitRemaining = 10485760;
    static constexpr std::uint64_t kActivityIntervalMs = 1000;
    static constexpr std::uint64_t kStallRestartMs = 15000;

    explicit CDispatchTaskWorker(CTaskMgr& tasks);
    ~CDispatchTaskWorker() override;

    // Thread-safe. A queued change that absorbs the new one keeps it; otherwise it is appended.
    void QueueChange(std::unique_ptr<CTaskInfoChangerBase> changer);
    // Dispatcher thread only (changes call it): forgets every range, queued sub-task and folder
    // of the task.
    void PurgeTask(const std::string& taskId);
    // Dispatcher thread only (a restart of the sub-task calls it): forgets the sub-task's
    // queued ranges and that it was queued, so it is queued afresh once its workers have ended.
    // Returns how often this happened to it since its task was last purged.
    std::size_t RestartSubTask(const std::string& taskId, const std::string& path);
    // Applies the queued changes in order, including those they queue meanwhile. The pass does
    // it; tests of single changes call it on a dispatcher that is not started.
    void ApplyQueuedChanges();
    // Runs one pass's steps, without the wait. The thread does it; tests drive passes with it on
    // a dispatcher that is not started.
    void RunPass();
    // Asks for the next pass now.
    void Wake();

    std::size_t QueuedChangeCount() const;
    std::size_t QueuedRangeCount() const { return m_rangeCount.load(); }
    std::uint64_t PassCount() const { return m_passes.load(); }

    void RequestStop() override;

protected:
    void DoWork() override;

private:
    int DownloadLimit() const;
    void PrepareNewTasks();
    void BuildDownloadRanges();
    void QueueSubTaskRanges(CTaskEntry& entry, const CTaskInfo& task, const std::string& path);
    void HandOverFolder(const std::string& taskId, const CSubTaskInfo& folder);
    void LaunchDownloadWorkers();
    void RetryErroredTasks();
    void WatchRunningTasks();
    bool HasQueuedWork(const std::string& taskId) const;
    bool StopRequested() const { return m_stop.load(); }

    CTaskMgr& m_tasks;
    std::vector<RangeRequest> m_downloadQueue;
    std::map<std::string, std::set<std::string>> m_queuedSubTasks;
    std::map<std::string, std::set<std::string>> m_folderSubTasks;
    std::map<std::string, std::map<std::string, std::size_t>> m_subTaskRestarts;
    CCreateFolderWorker m_folderWorker;

    mutable std::mutex m_changeMutex;
    std::condition_variable m_wake;
    std::list<std::unique_ptr<CTaskInfoChangerBase>> m_changes;
    bool m_wakeRequested = false;

    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_rangeCount{0};
    std::atomic<std::uint64_t> m_passes{0};
};
