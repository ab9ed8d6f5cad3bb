#pragma once

#include "engine/task_info.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CppSQLite3DB;

// The statement that creates the task table; stored databases were created with this text.
inline constexpr const char* kTaskTableSql =
    " CREATE TABLE [task_v2](   [id] text PRIMARY KEY, [add_time] bigint, [is_upload] smallint, "
    "[state] integer, [group_id] text, [task_info] text, [reserved1] text, [reserved2] text ); ";

// The task database, tasks.db in the engine data folder: one row per task holding its JSON.
// Saves are staged in memory and written together, at most about once a second, so a running
// download costs one transaction per second however often its tasks change. No database error
// leaves this class: each is logged and a failed write is staged again.
class CTaskDB {
public:
    // Creates the database and its table when missing; without a data folder nothing is stored.
    void Init();
    // Appends every stored task. A row whose JSON does not decode gives a record that holds
    // only its group id. False on a database error (rows read before it stay appended).
    bool Load(std::vector<CTaskInfo>& tasks);
    // Stages a copy of the record, replacing an earlier staged copy; writes nothing.
    void Save(const CTaskInfo& task);
    // Flushes when more than 1,000 ms of the engine clock have passed since the last flush.
    void CheckSave();
    // Writes every staged task in one transaction.
    void DoSave();
    // Forgets a staged copy and deletes the row.
    void Delete(const std::string& taskId);

    std::string DatabasePath() const;
    std::size_t StagedCount() const;

private:
    // Takes the path from the data folder setting the first time one is set, so tasks saved
    // before any load still reach the disk. Under the database lock.
    bool PreparePath();
    void WriteBatch(CppSQLite3DB& db, const std::map<std::string, CTaskInfo>& batch,
                    const std::set<std::string>& deletes, std::string& current);
    void Restage(std::map<std::string, CTaskInfo>& batch, std::set<std::string>& deletes);

    // Held while a connection is open; guards the path and the table flag.
    mutable std::mutex m_dbMutex;
    std::string m_path;
    bool m_tableReady = false;
    std::atomic<std::uint64_t> m_lastFlush{0};

    mutable std::mutex m_stagingMutex;
    std::map<std::string, CTaskInfo> m_staging;
    // Ids deleted while a flush holds its batch: a failed flush must not stage them again.
    std::set<std::string> m_deletedDuringFlush;
    // Rows whose delete failed; the next flush deletes them unless the task was saved again.
    std::set<std::string> m_pendingDeletes;
};
