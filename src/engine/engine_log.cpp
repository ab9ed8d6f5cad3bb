#include "engine/engine_log.h"

#include "log/format_text.h"

#include <exception>
#include <string>

void SetEngineLogHook(EngineLogHook hook) {
    GetEngineContext().logHook.store(hook);
}

void EngineLog(int level, std::string_view text) {
    const EngineLogHook hook = GetEngineContext().logHook.load();
    if (hook == nullptr) {
        return;
    }
    const std::string line(text);
    hook(level, line.c_str());
}

void EngineLogF(int level, const char* format, ...) {
    if (GetEngineContext().logHook.load() == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    const std::string line = FormatVarArgs(format, args);
    va_end(args);
    EngineLog(level, line);
}

void LogEscapedException(const char* where) noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& error) {
            EngineLogF(kEngineLogError, "%s: stopped by an exception: %s", where, error.what());
        } catch (...) {
            EngineLogF(kEngineLogError, "%s: stopped by an unknown exception", where);
        }
    } catch (...) {
        // Logging itself failed (memory still short): nothing more can be said.
    }
}
