#pragma once

#include "engine/engine_context.h"

#include <string_view>

inline constexpr int kEngineLogInfo = 0;
inline constexpr int kEngineLogError = 1;

// Installs the hook that receives engine messages; nullptr drops them.
void SetEngineLogHook(EngineLogHook hook);

// Sends one message to the hook; without a hook nothing is written.
void EngineLog(int level, std::string_view text);
[[gnu::format(printf, 2, 3)]] void EngineLogF(int level, const char* format, ...);

// Inside a catch block: logs the exception being handled (its what() when it is a
// std::exception) as escaping `where`. Never throws.
void LogEscapedException(const char* where) noexcept;
