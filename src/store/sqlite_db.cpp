#include "store/sqlite_db.h"

#include "store/sqlite_exception.h"

#include <sqlite3.h>

namespace {

// A statement is prepared again at most this often when the schema keeps changing under it.
constexpr int kSchemaRetries = 5;

} // namespace

CppSQLite3DB::~CppSQLite3DB() {
    Close();
}

void CppSQLite3DB::Open(const std::string& path) {
    Close();
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        throw CppSQLite3Exception(rc, message);
    }
    m_db = db;
}

void CppSQLite3DB::Close() {
    for (const auto& [sql, statement] : m_kept) {
        sqlite3_finalize(statement);
    }
    m_kept.clear();
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void CppSQLite3DB::CheckDb() const {
    if (m_db == nullptr) {
        throw CppSQLite3Exception(kCppSqliteError, "Database not open");
    }
}

void CppSQLite3DB::Fail(int code) {
    throw CppSQLite3Exception(code, sqlite3_errmsg(m_db));
}

void CppSQLite3DB::SetBusyTimeout(int milliseconds) {
    CheckDb();
    sqlite3_busy_timeout(m_db, milliseconds);
}

void CppSQLite3DB::KeepLogOnClose() {
    CheckDb();
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

sqlite3_stmt* CppSQLite3DB::Prepare(const std::string& sql) {
    CheckDb();
    sqlite3_stmt* prepared = nullptr;
    const int rc =
        sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &prepared, nullptr);
    if (rc != SQLITE_OK) {
        Fail(rc);
    }
    return prepared;
}

sqlite3_stmt* CppSQLite3DB::Compile(const SqlStatement& statement) {
    sqlite3_stmt* prepared = Prepare(statement.Sql());
    const int bound = statement.Bind(prepared);
    if (bound != SQLITE_OK) {
        sqlite3_finalize(prepared);
        Fail(bound);
    }
    return prepared;
}

sqlite3_stmt* CppSQLite3DB::Reuse(const SqlStatement& statement) {
    auto it = m_kept.find(statement.Sql());
    if (it == m_kept.end()) {
        it = m_kept.emplace(statement.Sql(), Prepare(statement.Sql())).first;
    } else {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
    }
    const int bound = statement.Bind(it->second);
    if (bound != SQLITE_OK) {
        Fail(bound);
    }
    return it->second;
}

void CppSQLite3DB::Forget(const std::string& sql) {
    const auto it = m_kept.find(sql);
    if (it != m_kept.end()) {
        sqlite3_finalize(it->second);
        m_kept.erase(it);
    }
}

int CppSQLite3DB::ExecDml(const SqlStatement& statement) {
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* prepared = Reuse(statement);
        int rc = sqlite3_step(prepared);
        while (rc == SQLITE_ROW) {
            rc = sqlite3_step(prepared);
        }
        if (rc == SQLITE_DONE) {
            // Reset at once: a kept statement must not hold the database between uses.
            sqlite3_reset(prepared);
            return sqlite3_changes(m_db);
        }
        const std::string message = sqlite3_errmsg(m_db);
        Forget(statement.Sql());
        if (rc != SQLITE_SCHEMA || attempt >= kSchemaRetries) {
            throw CppSQLite3Exception(rc, message);
        }
    }
}

void CppSQLite3DB::Exec(const char* sql) {
    CheckDb();
    char* error = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = error != nullptr ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw CppSQLite3Exception(rc, message);
    }
}

CppSQLite3Query CppSQLite3DB::ExecQuery(const SqlStatement& statement) {
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* prepared = Compile(statement);
        const int rc = sqlite3_step(prepared);
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
            return CppSQLite3Query(m_db, prepared, rc == SQLITE_DONE);
        }
        const std::string message = sqlite3_errmsg(m_db);
        sqlite3_finalize(prepared);
        if (rc != SQLITE_SCHEMA || attempt >= kSchemaRetries) {
            throw CppSQLite3Exception(rc, message);
        }
    }
}

std::int64_t CppSQLite3DB::ExecScalar(const SqlStatement& statement) {
    CppSQLite3Query query = ExecQuery(statement);
    if (query.Eof()) {
        throw CppSQLite3Exception(kCppSqliteError, "Invalid scalar query");
    }
    return query.GetInt64Field(0);
}

bool CppSQLite3DB::TableExists(std::string_view table) {
    SqlStatement statement("select count(*) from sqlite_master where type='table' and name=");
    statement.Text("'%s'", table);
    return ExecScalar(statement) > 0;
}
