#pragma once

#include <atomic>
#include <string>

// Line types of the typed writes.
inline constexpr int kLogTypeInfo = 1;
inline constexpr int kLogTypeError = 2;

// Levels: 1 writes information and error lines, 2 (the default) only error lines, 3 or more
// neither. The typed writes (Write, WriteFormat) are never filtered.
inline constexpr int kLogLevelInfo = 1;
inline constexpr int kLogLevelError = 2;

// The log as its callers see it. Narrow texts are UTF-8; wide texts are converted to UTF-8.
// Formatting writes follow printf; the compiler checks narrow formats against their arguments,
// so a plain text goes through Info, Error or Write, which never interpret '%'.
class CSyncLog {
public:
    virtual void SetName(const std::string& name);
    virtual void SetLogFile(const std::string& path);
    virtual void SetLevel(int level);
    virtual bool Init() = 0;
    virtual void Info(const char* text) = 0;
    virtual void Info(const wchar_t* text) = 0;
    [[gnu::format(printf, 2, 3)]] virtual void InfoFormat(const char* format, ...) = 0;
    virtual void InfoFormat(const wchar_t* format, ...) = 0;
    virtual void Error(const char* text) = 0;
    virtual void Error(const wchar_t* text) = 0;
    [[gnu::format(printf, 2, 3)]] virtual void ErrorFormat(const char* format, ...) = 0;
    virtual void ErrorFormat(const wchar_t* format, ...) = 0;
    virtual void Write(int type, const char* text) = 0;
    virtual void Write(int type, const wchar_t* text) = 0;
    [[gnu::format(printf, 3, 4)]] virtual void WriteFormat(int type, const char* format, ...) = 0;
    virtual void WriteFormat(int type, const wchar_t* format, ...) = 0;

    const std::string& GetName() const { return m_name; }
    const std::string& GetLogFile() const { return m_logFile; }
    int GetLevel() const { return m_level.load(std::memory_order_relaxed); }

protected:
    CSyncLog() = default;
    // Never deleted through this type: the one log of a process lives until it ends.
    ~CSyncLog() = default;

private:
    std::string m_logFile;
    std::string m_name;
    std::atomic<int> m_level{kLogLevelError};
};
