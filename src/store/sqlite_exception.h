#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// Code of the errors the wrapper finds itself (not SQLite's).
inline constexpr int kCppSqliteError = 1000;

// A database error: the SQLite result code and the message "NAME[code]: text". Raised only
// inside the store, which catches and logs it; it never leaves the engine.
class CppSQLite3Exception : public std::runtime_error {
public:
    CppSQLite3Exception(int code, std::string_view text);

    int ErrorCode() const { return m_code; }
    const char* ErrorMessage() const { return what(); }

    // "SQLITE_ERROR", "SQLITE_BUSY", ..., "CPPSQLITE_ERROR" for 1000, else "UNKNOWN_ERROR".
    static const char* ErrorCodeAsString(int code);

private:
    int m_code;
};
