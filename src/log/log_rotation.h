#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A log file longer than this is moved aside; one of exactly this size is kept.
inline constexpr std::uint64_t kMaxLogFileBytes = 209'715'200;
// Rotated copies that survive a size check (the newest by name, i.e. by timestamp).
inline constexpr std::size_t kKeptRotatedLogs = 5;

// Size check: when the file at `path` is longer than kMaxLogFileBytes it is renamed to
// "<path>.<17-digit local time>", and of the files in its folder whose names extend its name
// only the kKeptRotatedLogs greatest survive. Every failure is ignored.
void CheckLogSize(const std::string& path);
