#include "store/sqlite_query.h"

#include "store/sqlite_exception.h"

#include <sqlite3.h>

#include <utility>

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool eof)
    : m_db(db), m_statement(statement), m_eof(eof) {
    const int count = sqlite3_column_count(statement);
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(statement, i);
        if (name != nullptr) {
            m_columns.emplace(name, i);
        }
    }
}

CppSQLite3Query::~CppSQLite3Query() {
    Finalize();
}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)),
      m_statement(std::exchange(other.m_statement, nullptr)),
      m_eof(std::exchange(other.m_eof, true)), m_columns(std::move(other.m_columns)) {}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
    if (this != &other) {
        Finalize();
        m_db = std::exchange(other.m_db, nullptr);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_eof = std::exchange(other.m_eof, true);
        m_columns = std::move(other.m_columns);
    }
    return *this;
}

void CppSQLite3Query::CheckStatement() const {
    if (m_statement == nullptr) {
        throw CppSQLite3Exception(kCppSqliteError, "Null Virtual Machine pointer");
    }
}

bool CppSQLite3Query::Eof() const {
    CheckStatement();
    return m_eof;
}

void CppSQLite3Query::NextRow() {
    CheckStatement();
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_DONE) {
        m_eof = true;
    } else if (rc != SQLITE_ROW) {
        const std::string message = sqlite3_errmsg(m_db);
        Finalize();
        throw CppSQLite3Exception(rc, message);
    }
}

int CppSQLite3Query::FieldIndex(std::string_view name) const {
    CheckStatement();
    const auto it = m_columns.find(name);
    if (it == m_columns.end()) {
        throw CppSQLite3Exception(kCppSqliteError, "Invalid field name requested");
    }
    return it->second;
}

std::string CppSQLite3Query::GetStringField(std::string_view name) const {
    const int index = FieldIndex(name);
    const auto* text = sqlite3_column_text(m_statement, index);
    if (text == nullptr) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(m_statement, index)));
}

std::int32_t CppSQLite3Query::GetIntField(std::string_view name) const {
    return sqlite3_column_int(m_statement, FieldIndex(name));
}

std::int64_t CppSQLite3Query::GetInt64Field(std::string_view name) const {
    return sqlite3_column_int64(m_statement, FieldIndex(name));
}

std::int64_t CppSQLite3Query::GetInt64Field(int index) const {
    CheckStatement();
    if (index < 0 || index >= sqlite3_column_count(m_statement)) {
        throw CppSQLite3Exception(kCppSqliteError, "Invalid field index requested");
    }
    return sqlite3_column_int64(m_statement, index);
}

void CppSQLite3Query::Finalize() {
    if (m_statement != nullptr) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}
