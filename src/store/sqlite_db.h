#pragma once

#include "store/sql_statement.h"
#include "store/sqlite_query.h"

#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;

// One connection to a database file. Every operation raises CppSQLite3Exception on failure; the
// connection closes on destruction, ending any open transaction uncommitted.
class CppSQLite3DB {
public:
    CppSQLite3DB() = default;
    ~CppSQLite3DB();
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;

    // Opens (creating when missing) the database file at a UTF-8 path.
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    void SetBusyTimeout(int milliseconds);
    // Closing leaves a write-ahead log for the next connection instead of checkpointing it,
    // which would sync the disk at every close; SQLite checkpoints as the log grows.
    void KeepLogOnClose();

    // Runs a statement that returns no rows; prepared again while SQLite reports a schema
    // change. Returns the number of rows changed. The prepared statement is kept for the life
    // of the connection, so a batch of rows of one shape is prepared once.
    int ExecDml(const SqlStatement& statement);
    // Runs a statement without values through SQLite's one-shot call (transactions, pragmas).
    void Exec(const char* sql);
    CppSQLite3Query ExecQuery(const SqlStatement& statement);
    // The first column of the first row of a query that returns one.
    std::int64_t ExecScalar(const SqlStatement& statement);
    bool TableExists(std::string_view table);

private:
    void CheckDb() const;
    sqlite3_stmt* Compile(const SqlStatement& statement);
    sqlite3_stmt* Prepare(const std::string& sql);
    // The kept statement for the text, prepared when missing, with the values bound.
    sqlite3_stmt* Reuse(const SqlStatement& statement);
    void Forget(const std::string& sql);
    [[noreturn]] void Fail(int code);

    sqlite3* m_db = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> m_kept;
};
