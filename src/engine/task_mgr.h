#pragma once

#include "engine/store_flusher.h"
#include "engine/task_entry.h"
#include "engine/task_info.h"
#include "store/task_db.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ITaskMgrEvents;

// The engine's live tasks: one entry per task id, the task store, and the ordering keys that
// decide which task runs first. The container lock guards only the maps; it is never held
// while an entry is used, and entries stay alive while a caller holds them.
class CTaskMgr {
public:
    // events may be null; it must outlive the container.
    explicit CTaskMgr(ITaskMgrEvents* events = nullptr);
    // Writes whatever is still staged.
    ~CTaskMgr();
    CTaskMgr(const CTaskMgr&) = delete;
    CTaskMgr& operator=(const CTaskMgr&) = delete;

    std::shared_ptr<CTaskEntry> FindTask(const std::string& taskId) const;
    bool GetTask(const std::string& taskId, CTaskInfo& out) const;
    // Adds a task unless its id is empty or already present. With notify the change is told;
    // with save the record is staged in the task store.
    std::shared_ptr<CTaskEntry> AddTask(const CTaskInfo& task, bool notify, bool save);
    // Adds and stages a new task under a free id. An id already taken (the same item added in
    // the same millisecond of the engine clock, possibly by an earlier run) moves the add time
    // on by a millisecond and makes the id again. Null when the id is empty.
    std::shared_ptr<CTaskEntry> AddNewTask(CTaskInfo& task, bool notify);
    // Replaces a known task's record and stages it.
    void UpdateTask(const CTaskInfo& task);
    // Deletes the task's folder and row; unless keep, the task also leaves the container and
    // its removal is told.
    void RemoveTask(const std::string& taskId, bool keepInMemory);
    // An unfinished task that the new one would repeat: an upload with the same box file, or a
    // download to the same local path.
    std::shared_ptr<CTaskEntry> GetSameTask(const CTaskInfo& task) const;
    // An unfinished download of the same link item into the same folder, in the same group: its
    // address equals the new task's but for the access token.
    std::shared_ptr<CTaskEntry> GetSameLinkItemTask(const CTaskInfo& task) const;

    // Ids of the tasks whose state is in the mask, ascending.
    std::vector<std::string> ListTasks(std::uint32_t stateMask) const;
    std::vector<std::string> ListGroupTasks(const std::string& groupId,
                                            std::uint32_t stateMask) const;
    std::vector<std::string> ListUploadTasks(std::uint32_t stateMask) const;
    std::vector<std::string> ListDownloadTasks(std::uint32_t stateMask) const;
    // Sorts ids into task order: by ordering key (priority times add time), equal keys by id;
    // ids without a key (no longer in the container) last, by id.
    void SortTasks(std::vector<std::string>& taskIds) const;

    bool GetSubTaskOf(const std::string& taskId, const std::string& path, CSubTaskInfo& out) const;
    // The task's own data server, else the default one.
    std::string GetDataServer(const std::string& taskId) const;

    // Loads the stored tasks (all, or those of one group) and their sub-tasks, resuming them
    // as the resume-on-load setting says.
    void LoadAll();
    void LoadGroup(const std::string& groupId);
    // Flushes the task store when its interval has passed, and retries sub-task tables that
    // could not be written; called on every pass of the dispatcher.
    void CheckSave();
    // Writes everything staged in the task store and every sub-task store (shutdown).
    void FlushAll();
    bool IsLoaded() const { return m_loaded.load(); }

    CTaskDB& TaskStore() { return m_taskDb; }
    // Has the task's staged sub-task records written soon, off the calling thread: progress
    // that is on the disk is recorded within moments, so a crash fetches little twice.
    void RequestSubTaskFlush(const std::string& taskId);

private:
    using EntryPtr = std::shared_ptr<CTaskEntry>;
    template <typename Keep>
    std::vector<std::string> ListWhere(std::uint32_t stateMask, Keep keep) const;
    std::vector<EntryPtr> Entries() const;
    void Load(const std::string* groupId);

    ITaskMgrEvents* const m_events;
    mutable std::mutex m_mutex;
    std::map<std::string, EntryPtr> m_entries;
    CTaskDB m_taskDb;
    std::map<std::string, std::uint64_t> m_order;
    std::atomic<bool> m_loaded{false};
    std::atomic<std::uint64_t> m_lastCommitRetry{0};
    // Last: its thread uses the members above and stops first.
    CStoreFlusher m_flusher;
};
