#include "engine/changer_cleanup.h"

#include "engine/change_queue.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/task_id.h"
#include "engine/task_mgr.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <vector>

namespace {

constexpr std::chrono::seconds kRecentFolder{60};

// A task being added on another thread creates its folder before the container holds it: a
// folder touched within the last minute is left for a later cleanup.
bool IsRecent(const std::filesystem::path& folder) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(folder, error);
    return !error && std::filesystem::file_time_type::clock::now() - written < kRecentFolder;
}

} // namespace

void CChangerDeleteTmpFile::DoChange() {
    CTaskMgr* tasks = EngineTasks();
    // Before the container has loaded, a folder without a task may belong to a stored task.
    if (tasks == nullptr || !tasks->IsLoaded()) {
        return;
    }
    const std::string dataFolder = GetEngineContext().settings.DataFolder();
    if (dataFolder.empty()) {
        return;
    }
    std::vector<std::filesystem::path> orphans;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dataFolder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        // A link is never followed: only a real folder is a task's folder.
        // Any name but a task id in the data folder is not ours.
        if (IsTaskId(name) &&
            it->symlink_status(typeError).type() == std::filesystem::file_type::directory &&
            tasks->FindTask(name) == nullptr && !IsRecent(it->path())) {
            orphans.push_back(it->path());
        }
    }
    for (const std::filesystem::path& orphan : orphans) {
        std::error_code removeError;
        std::filesystem::remove_all(orphan, removeError);
        if (removeError) {
            EngineLogF(kEngineLogError, "CChangerDeleteTmpFile::DoChange:%s:%s",
                       orphan.string().c_str(), removeError.message().c_str());
        }
    }
}

void CChangerDeleteTaskDb::DoChange() {
    if (CTaskMgr* tasks = EngineTasks()) {
        tasks->RemoveTask(m_taskId, true);
    }
}
