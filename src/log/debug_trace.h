#pragma once

// Developer traces: standard error, only when PARVEX_TRACE=1. Never the log file.
[[gnu::format(printf, 1, 2)]] void DebugTrace(const char* format, ...);

// Whether traces are switched on (read once from the environment).
bool DebugTraceEnabled();
