#pragma once

#include "store/sqlite_db.h"
#include "store/sqlite_exception.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// How the task stores use their databases: every connection gets the busy timeout and gives up
// synchronous writes; every database error is logged in one form.

// Opens the database at path with the busy timeout and "PRAGMA synchronous = OFF; ".
void OpenStoreDb(CppSQLite3DB& db, const std::string& path);

// Creates a table with its statement when the database has no table of that name.
void EnsureStoreTable(CppSQLite3DB& db, std::string_view table, std::string_view createSql);

// Runs a statement, noting its text in `current` first: the statement an error line names.
void ExecNoted(CppSQLite3DB& db, const SqlStatement& statement, std::string& current);

// Runs write() between BEGIN and COMMIT. A COMMIT that fails raises like any statement, so a
// batch that did not reach the file is never taken as written; closing the connection then
// drops the whole batch.
template <typename Write>
void InStoreTransaction(CppSQLite3DB& db, std::string& current, Write&& write) {
    // The write lock is taken up front: a read turned into a write meets another writer with
    // an immediate SQLITE_BUSY under a write-ahead log, without the busy wait.
    current = "BEGIN IMMEDIATE";
    db.Exec("BEGIN IMMEDIATE");
    write();
    current = "COMMIT";
    db.Exec("COMMIT");
}

// Whether a store last flushed at lastFlush (engine clock) may flush again: more than 1,000 ms
// apart, in either direction.
bool StoreFlushDue(const std::atomic<std::uint64_t>& lastFlush);

// "Sql error: error:[message] sql:[statement]" at error level, tokens masked.
void LogSqlError(const CppSQLite3Exception& error, std::string_view sql);
// An information line of the store (it may hold a statement), tokens masked.
void LogStoreLine(std::string_view line);

// Tests shorten the wait for a database that another connection holds; a negative value
// restores the normal 60 seconds.
void SetStoreBusyTimeoutForTesting(int milliseconds);
