#pragma once

#include <chrono>
#include <string>

using LogClock = std::chrono::system_clock;

// Local time as "YYYYMMDD-hh:mm:ss.mmm" (21 characters), the stamp of every log line.
std::string FormatLogTimestamp(LogClock::time_point when);

// Local time as 17 digits "YYYYMMDDhhmmssmmm", the suffix of a rotated log file.
std::string FormatRotationStamp(LogClock::time_point when);
