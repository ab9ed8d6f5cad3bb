#include "log/format_text.h"

#include <cstdio>

std::string FormatVarArgs(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        return format;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<std::size_t>(needed));
    }
    std::string out(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(needed));
    return out;
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatVarArgs(format, args);
    va_end(args);
    return out;
}
