#pragma once

#include "engine/task_info.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class CppSQLite3DB;

// The statement that creates the sub-task table; stored databases were created with this text.
inline constexpr const char* kSubTaskTableSql =
    " CREATE TABLE [subtask_v1](   [path] text PRIMARY KEY, [state] integer, [size] bigint, "
    "[is_folder] smallint, [sub_task_info] text, [finger_mark] text, [reserved1] text, "
    "[reserved2] text ); ";

// Sub-task summaries by their path inside the task.
using SubTaskMap = std::map<std::string, SubTaskSummary>;

// The sub-task database of one task, subtasks.db in a folder named after the task id inside the
// engine data folder. Changes of single sub-tasks are staged and written together when asked
// (DoSave) or at most about once a second; the whole table is written when the task's sub-tasks
// become known. One lock guards the connections and paths, another the staging map, so staging
// never waits for a write. No database error leaves this class: each is logged and a failed
// write is kept for the next one.
class CSubTaskDB {
public:
    CSubTaskDB();
    ~CSubTaskDB();
    CSubTaskDB(const CSubTaskDB&) = delete;
    CSubTaskDB& operator=(const CSubTaskDB&) = delete;

    // Creates the task folder, the database and its table when missing; without a data folder
    // nothing is stored.
    void Init(const std::string& taskId);
    // Sorts every stored sub-task into one of the collections (below). False on a database
    // error. A completed row loses its JSON text; any unfinished row is Waiting again, in the
    // active collection when it has JSON text, else among those without details.
    bool Load(SubTaskMap& waiting, SubTaskMap& completed, SubTaskMap& active);
    // Stages a copy of the summary, then flushes when more than 1,000 ms have passed.
    void Save(const SubTaskSummary& summary);
    // Updates the rows of every staged summary in one transaction; never adds rows. The
    // connection stays open for the next one, several a second while a download runs, until
    // CloseConnection.
    void DoSave();
    void CloseConnection();
    // Replaces the whole table with the summaries of the three collections, which supersede
    // whatever was staged. False when the table could not be written.
    bool SaveAll(const SubTaskMap& waiting, const SubTaskMap& completed, const SubTaskMap& active);
    // Removes the task folder with the database; later writes are dropped.
    void DeleteFolder();

    std::string DatabasePath() const;
    std::string FolderPath() const;
    std::size_t StagedCount() const;

private:
    void Open(CppSQLite3DB& db, std::string& current);
    void CloseConnectionLocked();

    mutable std::mutex m_dbMutex; // connections, paths; taken before m_mutex
    mutable std::mutex m_mutex;   // staging
    std::string m_folder;
    std::string m_path;
    bool m_tableReady = false;
    std::unique_ptr<CppSQLite3DB> m_saveDb; // DoSave's connection, kept between its writes
    SubTaskMap m_staging;
    std::atomic<std::uint64_t> m_lastFlush{0};
};
