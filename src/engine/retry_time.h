#pragma once

#include <cstdint>

// A moment long past: a task given it is due at the next retry pass.
inline constexpr std::uint64_t kRetryTimeDueNow = 31536000;

// When an errored task is retried, in seconds since 1970. Without automatic retry the task is
// due at once (the front end resumes it). Otherwise: in a year (practically never) for the
// codes retrying cannot help (no permission, limits reached, bad names or ranges from the
// server, a link that refused to open again), in 2 seconds for parts that need another try, else in
// 30 seconds.
std::uint64_t TaskRetryTime(std::int32_t errorCode);
