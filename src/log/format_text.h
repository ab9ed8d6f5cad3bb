#pragma once

#include <cstdarg>
#include <string>

// printf-style formatting into a string of any length. A broken format gives the format text
// itself, so a trace of what was meant remains.
[[gnu::format(printf, 1, 0)]] std::string FormatVarArgs(const char* format, va_list args);
[[gnu::format(printf, 1, 2)]] std::string FormatText(const char* format, ...);
