#include "log/log_time.h"

#include <cstdio>
#include <ctime>

namespace {

struct LocalParts {
    std::tm tm{};
    int millis = 0;
};

LocalParts ToLocal(LogClock::time_point when) {
    using namespace std::chrono;
    const auto since = when.time_since_epoch();
    auto secs = duration_cast<seconds>(since);
    auto millis = duration_cast<milliseconds>(since - secs).count();
    if (millis < 0) { // before the epoch: borrow a second so the milliseconds stay positive
        secs -= seconds(1);
        millis += 1000;
    }
    LocalParts parts;
    const std::time_t t = static_cast<std::time_t>(secs.count());
    localtime_r(&t, &parts.tm);
    parts.millis = static_cast<int>(millis);
    return parts;
}

} // namespace

std::string FormatLogTimestamp(LogClock::time_point when) {
    const LocalParts p = ToLocal(when);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d:%02d:%02d.%03d", p.tm.tm_year + 1900,
                  p.tm.tm_mon + 1, p.tm.tm_mday, p.tm.tm_hour, p.tm.tm_min, p.tm.tm_sec, p.millis);
    return buf;
}

std::string FormatRotationStamp(LogClock::time_point when) {
    // The same fields without their separators.
    std::string digits;
    for (char c : FormatLogTimestamp(when)) {
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
        }
    }
    return digits;
}
