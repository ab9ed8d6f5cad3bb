#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// The rows of one query, read forward. The first row is already current when the query is
// returned. Fields are read by column name; a NULL reads as empty text or 0. Errors raise
// CppSQLite3Exception.
class CppSQLite3Query {
public:
    CppSQLite3Query() = default;
    // Takes a prepared statement that has been stepped once; eof tells whether that step
    // returned no row.
    CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool eof);
    ~CppSQLite3Query();
    CppSQLite3Query(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;

    bool Eof() const;
    void NextRow();

    std::string GetStringField(std::string_view name) const;
    std::int32_t GetIntField(std::string_view name) const;
    std::int64_t GetInt64Field(std::string_view name) const;
    // A column by position (the value of a scalar query).
    std::int64_t GetInt64Field(int index) const;

    void Finalize();

private:
    void CheckStatement() const;
    int FieldIndex(std::string_view name) const;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    bool m_eof = true;
    std::map<std::string, int, std::less<>> m_columns;
};
