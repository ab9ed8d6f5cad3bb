#include "log/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool DebugTraceEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("PARVEX_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void DebugTrace(const char* format, ...) {
    if (!DebugTraceEnabled()) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}
