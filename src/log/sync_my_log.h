#pragma once

#include "log/log_time.h"
#include "log/sync_log.h"

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

class CLogWriter;

// "[timestamp][I|E][name]: message"; no line for a type other than 1 or 2.
std::optional<std::string> MakeLogLine(int type, std::string_view name, std::string_view message,
                                       LogClock::time_point when);

// The application's log: lines are built in the caller's thread and queued for the writer.
class CSyncMyLog final : public CSyncLog {
public:
    // `writer` defaults to the writer shared by the process.
    explicit CSyncMyLog(CLogWriter* writer = nullptr);
    ~CSyncMyLog() = default;

    void SetName(const std::string& name) override;
    bool Init() override;
    void Info(const char* text) override;
    void Info(const wchar_t* text) override;
    [[gnu::format(printf, 2, 3)]] void InfoFormat(const char* format, ...) override;
    void InfoFormat(const wchar_t* format, ...) override;
    void Error(const char* text) override;
    void Error(const wchar_t* text) override;
    [[gnu::format(printf, 2, 3)]] void ErrorFormat(const char* format, ...) override;
    void ErrorFormat(const wchar_t* format, ...) override;
    void Write(int type, const char* text) override;
    void Write(int type, const wchar_t* text) override;
    [[gnu::format(printf, 3, 4)]] void WriteFormat(int type, const char* format, ...) override;
    void WriteFormat(int type, const wchar_t* format, ...) override;

    // Starts the writer thread; false if it already runs or cannot be created.
    bool StartWriteThread();
    // Writes every queued line and ends the writer (used at a normal exit so nothing is lost).
    bool StopWriteThread();

    const std::string& GetLineName() const { return m_lineName; }

private:
    void Queue(int type, std::string_view message);
    [[gnu::format(printf, 3, 0)]] void QueueFormatted(int type, const char* format, va_list args);
    void QueueFormatted(int type, const wchar_t* format, va_list args);

    CLogWriter& m_writer;
    std::string m_lineName;
};
