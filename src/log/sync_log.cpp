#include "log/sync_log.h"

void CSyncLog::SetName(const std::string& name) {
    m_name = name;
}

void CSyncLog::SetLogFile(const std::string& path) {
    m_logFile = path;
}

void CSyncLog::SetLevel(int level) {
    m_level.store(level, std::memory_order_relaxed);
}
