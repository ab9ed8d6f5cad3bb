#include "app/app_log.h"

#include "app/data_folders.h"
#include "log/sync_my_log.h"

#include <atomic>
#include <filesystem>
#include <mutex>

namespace {

std::atomic<CSyncMyLog*> g_appLog{nullptr};
std::mutex g_openLock;

} // namespace

int LogLevelForFolder(const std::string& logFolder) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(logFolder) / "Information", ec)
               ? kLogLevelInfo
               : kLogLevelError;
}

CSyncMyLog* OpenAppLog() {
    std::lock_guard lock(g_openLock);
    if (CSyncMyLog* existing = g_appLog.load()) {
        return existing;
    }
    // Lives until the process ends: other threads may still write while it shuts down.
    auto* log = new CSyncMyLog;
    log->SetLogFile(GetLogFilePath()); // creates the data folders
    log->SetLevel(LogLevelForFolder(GetLogFolder()));
    log->SetName("Parvex");
    log->Init();
    log->StartWriteThread();
    g_appLog.store(log);
    return log;
}

CSyncMyLog* GetAppLog() {
    return g_appLog.load();
}

void CloseAppLog() {
    if (CSyncMyLog* log = g_appLog.load()) {
        log->StopWriteThread();
    }
}
