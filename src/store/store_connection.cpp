#include "store/store_connection.h"

#include "engine/engine_clock.h"
#include "engine/engine_log.h"
#include "engine/private_paths.h"
#include "engine/secret_mask.h"

#include <atomic>

namespace {

constexpr int kBusyTimeoutMs = 60000;
constexpr std::uint64_t kFlushIntervalMs = 1000;
std::atomic<int> g_busyTimeoutMs{kBusyTimeoutMs};

} // namespace

void OpenStoreDb(CppSQLite3DB& db, const std::string& path) {
    // Made private before SQLite opens it: its journals take the database's permissions.
    PreparePrivateFile(path);
    db.Open(path);
    db.SetBusyTimeout(g_busyTimeoutMs.load());
    // A write-ahead log keeps the database whole through a crash or a power cut; NORMAL syncs
    // at checkpoints only, so a commit costs a write, not a flush to the disk.
    db.Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
    // Stores are opened for every flush, several a second while a download runs.
    db.KeepLogOnClose();
}

void EnsureStoreTable(CppSQLite3DB& db, std::string_view table, std::string_view createSql) {
    if (!db.TableExists(table)) {
        db.ExecDml(SqlStatement(createSql));
    }
}

void ExecNoted(CppSQLite3DB& db, const SqlStatement& statement, std::string& current) {
    current = statement.LogText();
    db.ExecDml(statement);
}

bool StoreFlushDue(const std::atomic<std::uint64_t>& lastFlush) {
    const std::uint64_t now = EngineNow();
    const std::uint64_t last = lastFlush.load();
    return (now > last ? now - last : last - now) > kFlushIntervalMs;
}

void LogSqlError(const CppSQLite3Exception& error, std::string_view sql) {
    const std::string shown = MaskSecrets(sql);
    EngineLogF(kEngineLogError, "Sql error: error:[%s] sql:[%s]", error.ErrorMessage(),
               shown.c_str());
}

void LogStoreLine(std::string_view line) {
    EngineLog(kEngineLogInfo, MaskSecrets(line));
}

void SetStoreBusyTimeoutForTesting(int milliseconds) {
    g_busyTimeoutMs.store(milliseconds < 0 ? kBusyTimeoutMs : milliseconds);
}
