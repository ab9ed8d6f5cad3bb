#include "engine/engine_log.h"

#include "log/format_text.h"

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
