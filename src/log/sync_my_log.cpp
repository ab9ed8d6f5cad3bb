#include "log/sync_my_log.h"

#include "log/format_text.h"
#include "log/log_rotation.h"
#include "log/log_writer.h"
#include "log/wide_text.h"

#include <cstdio>
#include <cwchar>
#include <new>
#include <vector>

namespace {

// Longest formatted wide message; a longer one is written unformatted.
constexpr std::size_t kMaxWideMessage = 1 << 20;

// A null text logs as an empty message rather than crashing the caller.
std::string_view View(const char* text) {
    return text != nullptr ? text : "";
}
std::wstring_view View(const wchar_t* text) {
    return text != nullptr ? text : L"";
}

const char* TypeLetter(int type) {
    switch (type) {
    case kLogTypeInfo:
        return "I";
    case kLogTypeError:
        return "E";
    default:
        return nullptr;
    }
}

std::string FormatWide(const wchar_t* format, va_list args) {
    // vswprintf reports "too small" and "cannot convert" alike, so grow up to a bound.
    for (std::size_t size = 512; size <= kMaxWideMessage; size *= 4) {
        std::vector<wchar_t> buf(size);
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(buf.data(), buf.size(), format, copy);
        va_end(copy);
        if (n >= 0) {
            return WideToUtf8(std::wstring_view(buf.data(), static_cast<std::size_t>(n)));
        }
    }
    return WideToUtf8(format);
}

} // namespace

std::optional<std::string> MakeLogLine(int type, std::string_view name, std::string_view message,
                                       LogClock::time_point when) {
    const char* letter = TypeLetter(type);
    if (letter == nullptr) {
        return std::nullopt;
    }
    const std::string stamp = FormatLogTimestamp(when);
    std::string line;
    line.reserve(stamp.size() + name.size() + message.size() + 10);
    line.append("[").append(stamp).append("][").append(letter).append("][");
    line.append(name).append("]: ").append(message);
    return line;
}

CSyncMyLog::CSyncMyLog(CLogWriter* writer)
    : m_writer(writer != nullptr ? *writer : CLogWriter::Instance()) {}

void CSyncMyLog::SetName(const std::string& name) {
    CSyncLog::SetName(name);
    m_lineName = name;
}

bool CSyncMyLog::Init() {
    m_writer.SetPath(GetLogFile());
    CheckLogSize(GetLogFile());
    return true;
}

bool CSyncMyLog::StartWriteThread() {
    return m_writer.Start();
}

bool CSyncMyLog::StopWriteThread() {
    return m_writer.Stop();
}

void CSyncMyLog::Queue(int type, std::string_view message) {
    try {
        std::optional<std::string> line = MakeLogLine(type, m_lineName, message, LogClock::now());
        if (line) {
            m_writer.Push(std::move(*line));
        }
    } catch (const std::exception&) {
        // Logging never fails its caller: the line is lost.
    }
}

void CSyncMyLog::QueueFormatted(int type, const char* format, va_list args) {
    if (format == nullptr) {
        Queue(type, "");
        return;
    }
    try {
        Queue(type, FormatVarArgs(format, args));
    } catch (const std::exception&) {
    }
}

void CSyncMyLog::QueueFormatted(int type, const wchar_t* format, va_list args) {
    if (format == nullptr) {
        Queue(type, "");
        return;
    }
    try {
        Queue(type, FormatWide(format, args));
    } catch (const std::exception&) {
    }
}

void CSyncMyLog::Info(const char* text) {
    if (GetLevel() <= kLogLevelInfo) {
        Queue(kLogTypeInfo, View(text));
    }
}

void CSyncMyLog::Info(const wchar_t* text) {
    if (GetLevel() <= kLogLevelInfo) {
        Queue(kLogTypeInfo, WideToUtf8(View(text)));
    }
}

void CSyncMyLog::InfoFormat(const char* format, ...) {
    if (GetLevel() <= kLogLevelInfo) {
        va_list args;
        va_start(args, format);
        QueueFormatted(kLogTypeInfo, format, args);
        va_end(args);
    }
}

void CSyncMyLog::InfoFormat(const wchar_t* format, ...) {
    if (GetLevel() <= kLogLevelInfo) {
        va_list args;
        va_start(args, format);
        QueueFormatted(kLogTypeInfo, format, args);
        va_end(args);
    }
}

void CSyncMyLog::Error(const char* text) {
    if (GetLevel() <= kLogLevelError) {
        Queue(kLogTypeError, View(text));
    }
}

void CSyncMyLog::Error(const wchar_t* text) {
    if (GetLevel() <= kLogLevelError) {
        Queue(kLogTypeError, WideToUtf8(View(text)));
    }
}

void CSyncMyLog::ErrorFormat(const char* format, ...) {
    if (GetLevel() <= kLogLevelError) {
        va_list args;
        va_start(args, format);
        QueueFormatted(kLogTypeError, format, args);
        va_end(args);
    }
}

void CSyncMyLog::ErrorFormat(const wchar_t* format, ...) {
    if (GetLevel() <= kLogLevelError) {
        va_list args;
        va_start(args, format);
        QueueFormatted(kLogTypeError, format, args);
        va_end(args);
    }
}

void CSyncMyLog::Write(int type, const char* text) {
    Queue(type, View(text));
}

void CSyncMyLog::Write(int type, const wchar_t* text) {
    Queue(type, WideToUtf8(View(text)));
}

void CSyncMyLog::WriteFormat(int type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    QueueFormatted(type, format, args);
    va_end(args);
}

void CSyncMyLog::WriteFormat(int type, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    QueueFormatted(type, format, args);
    va_end(args);
}
