#include "store/task_db.h"

#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/path_text.h"
#include "engine/private_paths.h"
#include "engine/secret_mask.h"
#include "engine/task_id.h"
#include "store/store_connection.h"

#include <filesystem>
#include <system_error>

namespace {

SqlStatement SelectTask(const std::string& id) {
    SqlStatement statement("select * from task_v2 where");
    statement.Text(" id = '%s';", id);
    return statement;
}

SqlStatement InsertTask(const CTaskInfo& task, const std::string& json) {
    SqlStatement statement("insert into task_v2 values( ");
    statement.Text("  '%s'", task.task_id)
        .Uint64(", %llu", task.add_time)
        .Int(", %d", task.is_upload ? 1 : 0)
        .Int(", %d", task.state)
        .Text(", '%s'", task.group_id)
        .Text(", '%s'", json, true)
        .Raw(", '', '' );");
    return statement;
}

SqlStatement UpdateTask(const CTaskInfo& task, const std::string& json) {
    SqlStatement statement("update task_v2 set");
    statement.Text("  id='%s'", task.task_id)
        .Uint64(", add_time=%llu", task.add_time)
        .Int(", is_upload=%d", task.is_upload ? 1 : 0)
        .Int(", state=%d", task.state)
        .Text(", group_id='%s'", task.group_id)
        .Text(", task_info='%s'", json, true)
        .Text("where id='%s'", task.task_id)
        .Raw(";");
    return statement;
}

SqlStatement DeleteTask(const std::string& id) {
    SqlStatement statement("delete from task_v2 where");
    statement.Text(" id = '%s';", id);
    return statement;
}

} // namespace

bool CTaskDB::PreparePath() {
    if (!m_path.empty()) {
        return true;
    }
    const std::string folder = GetEngineContext().settings.DataFolder();
    if (folder.empty()) {
        return false;
    }
    EnsurePrivateFolder(folder);
    m_path = PathText(folder).Append("tasks.db").Text();
    m_tableReady = false;
    return true;
}

void CTaskDB::Init() {
    std::lock_guard<std::mutex> lock(m_dbMutex);
    if (!PreparePath()) {
        return;
    }
    try {
        CppSQLite3DB db;
        OpenStoreDb(db, m_path);
        EnsureStoreTable(db, "task_v2", kTaskTableSql);
        m_tableReady = true;
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, kTaskTableSql);
    }
}

bool CTaskDB::Load(std::vector<CTaskInfo>& tasks) {
    std::lock_guard<std::mutex> lock(m_dbMutex);
    if (m_path.empty()) {
        return true;
    }
    const SqlStatement select("select * from task_v2 ;");
    try {
        CppSQLite3DB db;
        OpenStoreDb(db, m_path);
        for (CppSQLite3Query query = db.ExecQuery(select); !query.Eof(); query.NextRow()) {
            CTaskInfo task;
            if (!task.FromJson(query.GetStringField("task_info"))) {
                // Kept by its group only: a record without an id is never used.
                EngineLogF(kEngineLogError, "CTaskDB::Load: unreadable task record: %.64s",
                           query.GetStringField("id").c_str());
            } else if (!IsTaskId(task.task_id)) {
                // The id names the task's folder: any other text could lead out of the data
                // folder.
                EngineLogF(kEngineLogError,
                           "CTaskDB::Load: task record with a bad id skipped: %.64s",
                           MaskSecrets(task.task_id).c_str());
                continue;
            }
            task.group_id = query.GetStringField("group_id");
            tasks.push_back(std::move(task));
        }
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, select.LogText());
        return false;
    }
    return true;
}

void CTaskDB::Save(const CTaskInfo& task) {
    std::lock_guard<std::mutex> lock(m_stagingMutex);
    m_staging.insert_or_assign(task.task_id, task);
    m_pendingDeletes.erase(task.task_id);
}

void CTaskDB::CheckSave() {
    if (StoreFlushDue(m_lastFlush)) {
        DoSave();
    }
}

void CTaskDB::DoSave() {
    m_lastFlush.store(EngineNow());
    // The database lock comes first, so two flushes cannot write their batches out of order.
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    std::map<std::string, CTaskInfo> batch;
    std::set<std::string> deletes;
    {
        std::lock_guard<std::mutex> lock(m_stagingMutex);
        m_deletedDuringFlush.clear();
        if (m_staging.empty() && m_pendingDeletes.empty()) {
            return;
        }
        batch.swap(m_staging);
        deletes.swap(m_pendingDeletes);
    }
    if (!PreparePath()) {
        return; // no data folder: the engine keeps its tasks in memory only
    }
    std::string current;
    try {
        CppSQLite3DB db;
        OpenStoreDb(db, m_path);
        if (!m_tableReady) {
            current = kTaskTableSql;
            EnsureStoreTable(db, "task_v2", kTaskTableSql);
            m_tableReady = true;
        }
        WriteBatch(db, batch, deletes, current);
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, current);
        Restage(batch, deletes);
    }
}

void CTaskDB::WriteBatch(CppSQLite3DB& db, const std::map<std::string, CTaskInfo>& batch,
                         const std::set<std::string>& deletes, std::string& current) {
    InStoreTransaction(db, current, [&] {
        for (const std::string& id : deletes) {
            const SqlStatement statement = DeleteTask(id);
            ExecNoted(db, statement, current);
            LogStoreLine("CTaskDB::Delete:[" + statement.LogText() + "]");
        }
        for (const auto& [id, task] : batch) {
            const SqlStatement select = SelectTask(id);
            current = select.LogText();
            const bool exists = !db.ExecQuery(select).Eof();
            const std::string json = task.ToJson();
            const SqlStatement write = exists ? UpdateTask(task, json) : InsertTask(task, json);
            ExecNoted(db, write, current);
            LogStoreLine("CTaskDB::DoSave:[" + write.LogText() + "]");
        }
    });
}

void CTaskDB::Restage(std::map<std::string, CTaskInfo>& batch, std::set<std::string>& deletes) {
    std::lock_guard<std::mutex> lock(m_stagingMutex);
    for (auto& [id, task] : batch) {
        // A newer copy or a delete since the batch was taken wins over the failed write.
        if (!m_staging.contains(id) && !m_deletedDuringFlush.contains(id)) {
            m_staging.emplace(id, std::move(task));
        }
    }
    for (const std::string& id : deletes) {
        if (!m_staging.contains(id)) {
            m_pendingDeletes.insert(id);
        }
    }
}

void CTaskDB::Delete(const std::string& taskId) {
    {
        std::lock_guard<std::mutex> lock(m_stagingMutex);
        m_staging.erase(taskId);
        m_deletedDuringFlush.insert(taskId);
    }
    std::lock_guard<std::mutex> dbLock(m_dbMutex);
    if (!PreparePath()) {
        return;
    }
    const SqlStatement statement = DeleteTask(taskId);
    try {
        CppSQLite3DB db;
        OpenStoreDb(db, m_path);
        db.ExecDml(statement);
        LogStoreLine("CTaskDB::Delete:[" + statement.LogText() + "]");
    } catch (const CppSQLite3Exception& error) {
        LogSqlError(error, statement.LogText());
        std::lock_guard<std::mutex> lock(m_stagingMutex);
        if (!m_staging.contains(taskId)) {
            m_pendingDeletes.insert(taskId);
        }
    }
}

std::string CTaskDB::DatabasePath() const {
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_path;
}

std::size_t CTaskDB::StagedCount() const {
    std::lock_guard<std::mutex> lock(m_stagingMutex);
    return m_staging.size();
}
