#include "store/sub_task_db.h"

#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/path_text.h"
#include "engine/private_paths.h"
#include "store/sqlite_db.h"
#include "store/store_connection.h"

#include <filesystem>
#include <system_error>

namespace {

SqlStatement InsertSubTask(const SubTaskSummary& summary) {
    SqlStatement statement("insert into subtask_v1 values( ");
    statement.Text("  '%s'", summary.path, true)
        .Int(", %d", summary.state)
        .Uint64(", %llu", summary.size)
        .Int(", %d", summary.is_folder ? 1 : 0)
        .Text(", '%s'", summary.json, true)
        .Text(", '%s'", summary.finger_mark)
        .Raw(", '', '' );");
    return statement;
}

SqlStatement UpdateSubTask(const SubTaskSummary& summary) {
    SqlStatement statement("update subtask_v1 set");
    statement.Int("  state=%d", summary.state)
        .Uint64(", size=%llu", summary.size)
        .Int(", is_folder=%d", summary.is_folder ? 1 : 0)
        .Text(", sub_task_info='%s'", summary.json, true)
        .Text(", finger_mark='%s'", summary.finger_mark)
        .Text("  where path='%s'", summary.path, true)
        .Raw(";");
    return statement;
}

// The collection a stored row belongs to, and the state it is given.
SubTaskMap& Place(SubTaskSummary& summary, SubTaskMap& waiting, SubTaskMap& completed,
                  SubTaskMap& active) {
    if (summary.state == kStateCompleted) {
        return completed;
    }
    const bool withDetails = !summary.json.empty() || summary.state != kStateWaiting;
    summary.state = kStateWaiting;
    return withDetails ? active : waiting;
}

} // namespace

CSubTaskDB::CSubTaskDB() = default;

CSubTaskDB::~CSubTaskDB() = default;

void CSubTaskDB::Init(const std::string& taskId) {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    CloseConnectionLocked();
    const std::string dataFolder = GetEngineContext().settings.DataFolder();
    // The id becomes a folder name: one plain segment only.
    if (dataFolder.empty() || taskId.empty() || taskId == "." || taskId == ".." ||
        taskId.find_first_of("/\\") != std::string::npos ||
        taskId.find('\0') != std::string::npos) {
        return;
    }
    m_folder = PathText(dataFolder).Append(taskId).Text();
    m_path = PathText(m_folder).Append("subtasks.db").Text();
    m_tableReady = false;
    std::string current;
    try {
        CppSQLite3DB db;
        Open(db, current);
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, current);
    }
}

// Opens the database; a table that could not be made before is made now, with its folder.
void CSubTaskDB::Open(CppSQLite3DB& db, std::string& current) {
    current = kSubTaskTableSql;
    if (!m_tableReady) {
        EnsurePrivateFolder(m_folder);
    }
    OpenStoreDb(db, m_path);
    if (!m_tableReady) {
        EnsureStoreTable(db, "subtask_v1", kSubTaskTableSql);
        m_tableReady = true;
    }
}

bool CSubTaskDB::Load(SubTaskMap& waiting, SubTaskMap& completed, SubTaskMap& active) {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    if (m_path.empty()) {
        return true;
    }
    const SqlStatement select("select * from subtask_v1 ;");
    std::string current;
    try {
        CppSQLite3DB db;
        Open(db, current);
        current = select.LogText();
        for (CppSQLite3Query query = db.ExecQuery(select); !query.Eof(); query.NextRow()) {
            SubTaskSummary summary;
            summary.path = query.GetStringField("path");
            summary.state = static_cast<std::uint32_t>(query.GetIntField("state"));
            summary.size = static_cast<std::uint64_t>(query.GetInt64Field("size"));
            summary.is_folder = query.GetIntField("is_folder") != 0;
            summary.finger_mark = query.GetStringField("finger_mark");
            if (summary.state != kStateCompleted) {
                summary.json = query.GetStringField("sub_task_info");
            }
            SubTaskMap& collection = Place(summary, waiting, completed, active);
            collection.insert_or_assign(summary.path, std::move(summary));
        }
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, current);
        return false;
    }
    return true;
}

void CSubTaskDB::Save(const SubTaskSummary& summary) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_staging.insert_or_assign(summary.path, summary);
    }
    if (StoreFlushDue(m_lastFlush)) {
        DoSave();
    }
}

void CSubTaskDB::DoSave() {
    m_lastFlush.store(EngineNow());
    // The database lock comes first, so two flushes cannot write their batches out of order;
    // staging goes on meanwhile.
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    SubTaskMap batch;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        batch.swap(m_staging);
    }
    if (batch.empty() || m_path.empty()) {
        return; // nothing staged, no data folder, or the task's store was deleted
    }
    std::string current;
    try {
        if (m_saveDb == nullptr) {
            auto db = std::make_unique<CppSQLite3DB>();
            Open(*db, current);
            m_saveDb = std::move(db);
        }
        CppSQLite3DB& db = *m_saveDb;
        InStoreTransaction(db, current, [&] {
            for (const auto& [path, summary] : batch) {
                ExecNoted(db, UpdateSubTask(summary), current);
            }
        });
        LogStoreLine("CSubTaskDB::DoSave:" + m_path);
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, current);
        // A connection in a failed state is not used again.
        CloseConnectionLocked();
        // Kept for the next flush, unless a newer copy was staged meanwhile.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_staging.merge(batch);
    }
}

void CSubTaskDB::CloseConnection() {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    CloseConnectionLocked();
}

void CSubTaskDB::CloseConnectionLocked() {
    m_saveDb.reset(); // closing ends a transaction a failure left open
}

bool CSubTaskDB::SaveAll(const SubTaskMap& waiting, const SubTaskMap& completed,
                         const SubTaskMap& active) {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    if (m_path.empty()) {
        return true;
    }
    std::string current;
    try {
        CppSQLite3DB db;
        Open(db, current);
        InStoreTransaction(db, current, [&] {
            ExecNoted(db, SqlStatement("DELETE FROM subtask_v1 ;"), current);
            for (const SubTaskMap* collection : {&completed, &active, &waiting}) {
                for (const auto& [path, summary] : *collection) {
                    ExecNoted(db, InsertSubTask(summary), current);
                }
            }
        });
        LogStoreLine("CSubTaskDB::SaveAll:" + m_path);
        // The collections written hold every change staged before them.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_staging.clear();
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, current);
        return false;
    }
    return true;
}

void CSubTaskDB::DeleteFolder() {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    if (m_folder.empty()) {
        return;
    }
    CloseConnectionLocked();
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
    if (error) {
        EngineLogF(kEngineLogError, "CSubTaskDB::DeleteFolder:%s:%s", m_folder.c_str(),
                   error.message().c_str());
    }
    m_folder.clear();
    m_path.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_staging.clear();
}

std::string CSubTaskDB::DatabasePath() const {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    return m_path;
}

std::string CSubTaskDB::FolderPath() const {
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    return m_folder;
}

std::size_t CSubTaskDB::StagedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_staging.size();
}
