#pragma once

#include "engine/sub_task_fill.h"
#include "engine/task_info.h"
#include "store/sub_task_db.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CTaskDB;
class ITaskMgrEvents;

// Everything the engine keeps about one live task: its record, its sub-tasks in three
// collections (known only by summary, completed, and all others with their full JSON), its
// sub-task store, the bytes done per sub-task, the state to take after preparation and the time
// of its last activity. One lock guards the record and the collections; calls out (the store,
// the change notifications) happen after it is released.
//
// Invariants: a sub-task path is in exactly one collection; the record's completed sub-task
// count is the size of the completed collection and its completed bytes the sum of the bytes
// per sub-task.
class CTaskEntry {
public:
    // events may be null; it must outlive the entry.
    explicit CTaskEntry(ITaskMgrEvents* events);
    CTaskEntry(const CTaskEntry&) = delete;
    CTaskEntry& operator=(const CTaskEntry&) = delete;

    // A copy of the record; it never aliases the entry.
    CTaskInfo Info() const;
    // A copy whose reported bytes include the bytes in flight; the entry keeps the highest value
    // reported, so the progress shown never goes back while the task runs.
    CTaskInfo InfoWithReportedBytes();
    std::uint32_t State() const;
    std::string GroupId() const;
    bool IsUpload() const;
    std::string LocalPath() const;

    // The first record also prepares the sub-task store. A later one flushes the staged
    // sub-tasks first when the state changes, tells that the task changed, asks for the row of
    // a task that completed to be dropped when finished tasks are not kept, and updates the
    // time spent. The counters the entry keeps (sub-task count, size, sent bytes, time spent,
    // completed count and bytes) stay the entry's: a record copied out earlier cannot put old
    // values back. ResetSubTasks clears them.
    void SetInfo(const CTaskInfo& task);
    // Stages the record in the task store, unless the task was removed meanwhile (a removed
    // task's row must not come back).
    void StageIn(CTaskDB& store) const;
    void MarkRemoved();

    // The full record of a sub-task; false when the task has no such sub-task. localPathValid,
    // when given, tells whether the sub-task's local path could be derived safely (a name from
    // the server may not leave the task's folder); when not, the record's local path is the
    // task's own and must not be written to.
    bool GetSubTask(const std::string& path, CSubTaskInfo& out,
                    bool* localPathValid = nullptr) const;
    // Writes a sub-task's state back: a completed one moves to the completed collection and
    // loses its JSON, any other keeps its JSON among the active ones. Staged in the store.
    void StoreSubTask(const CSubTaskInfo& sub);
    // Applies `change` to the kept details of every unfinished sub-task that has them (the ones
    // worked on) and stages those it changed (`change` returns whether it did); their states and
    // collections stay. Sub-tasks known only by summary take their details from the task.
    void ChangeKeptSubTasks(const std::function<bool(CSubTaskInfo&)>& change);
    // Paths of the sub-tasks in the state mask whose transfer method is in the method mask:
    // completed ones first (when the mask holds Completed), then active ones, then those known
    // only by summary (when the mask holds Waiting), each in path order, at most `max` (negative:
    // the task's sub-task count) after passing over `skip` leading positions.
    std::vector<std::string> ListSubTasks(std::uint32_t stateMask, std::int32_t methodMask,
                                          std::size_t skip, std::int64_t max) const;
    // A new Waiting sub-task known by its summary; the task's count and size grow. A path the
    // task already has changes nothing, so a repeated preparation adds each sub-task once.
    void AddSubTask(const std::string& path, std::uint64_t size, bool isFolder,
                    const std::string& fingerMark);
    // Forgets every sub-task and their counts, sizes and bytes (a preparation starts again).
    void ResetSubTasks();
    // Writes the three collections as the whole sub-task table. A failed write is retried by
    // FlushSubTasks and RetryCommit. False when it failed.
    bool CommitSubTasks();
    // Reads the collections from the store and recomputes the counters from them.
    bool LoadSubTasks();
    // Records the completed bytes of one sub-task.
    void SetSubTaskBytes(const std::string& path, std::uint64_t bytes);
    void AddSentBytes(std::uint64_t bytes);
    // While Working, adds the time since the last activity to the time spent.
    void UpdateUsedTime();

    // Writes the staged sub-task changes (or the whole table when an earlier commit failed).
    void FlushSubTasks();
    // Lets go of the sub-task store's connection that flushes keep between them.
    void CloseSubTaskStore();
    bool CommitPending() const { return m_commitPending.load(); }
    // Removes the task's folder with its sub-task store.
    void DeleteStore();

    std::uint32_t PendingState() const;
    void SetPendingState(std::uint32_t state);
    std::uint64_t LastActivity() const;
    std::size_t CompletedCount() const;
    // The task's password in protected form, for the upload side.
    std::string ProtectedPassword() const;
    const CSubTaskDB& SubTaskStore() const { return m_subTaskDb; }

private:
    // Whether another sub-task has a relative part (under m_mutex).
    RelativePartTaken SiblingTaken() const;

    void UpdateUsedTimeLocked();

    ITaskMgrEvents* const m_events;
    mutable std::mutex m_mutex;
    CTaskInfo m_info;
    bool m_hasInfo = false;
    bool m_removed = false;
    SubTaskMap m_waiting;   // known only by summary, never worked on
    SubTaskMap m_completed; // JSON text dropped
    SubTaskMap m_active;    // everything else, JSON text kept
    // The service-side relative parts of every sub-task, for numbering local names (under
    // m_mutex, built on first use).
    mutable std::optional<std::set<std::string>> m_relativeParts;
    std::map<std::string, std::uint64_t> m_subTaskBytes;
    std::uint64_t m_bytesTotal = 0; // sum of m_subTaskBytes
    std::uint32_t m_pendingState = kStateWaiting;
    std::uint64_t m_lastActivity = 0; // engine clock; 0 when not Working
    std::string m_protectedPassword;
    std::atomic<bool> m_commitPending{false};
    CSubTaskDB m_subTaskDb;
};
