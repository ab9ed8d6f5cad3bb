#include "engine/create_folder_worker.h"

#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/changer_sub_task_progress.h"
#include "engine/engine_context.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"

#include <algorithm>
#include <filesystem>

namespace {

constexpr std::chrono::milliseconds kPollInterval{100};

} // namespace

CCreateFolderWorker::~CCreateFolderWorker() {
    StopForDestruction();
}

void CCreateFolderWorker::Add(const CSubTaskInfo& folder) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(folder);
    }
    m_wake.notify_one();
}

void CCreateFolderWorker::RemoveTask(const std::string& taskId) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_queue, [&taskId](const CSubTaskInfo& sub) { return sub.task_id == taskId; });
}

bool CCreateFolderWorker::HasTask(const std::string& taskId) const {
    std::lock_guard lock(m_mutex);
    return m_current == taskId ||
           std::any_of(m_queue.begin(), m_queue.end(),
                       [&taskId](const CSubTaskInfo& sub) { return sub.task_id == taskId; });
}

std::size_t CCreateFolderWorker::QueuedCount() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void CCreateFolderWorker::RequestStop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true);
    }
    m_wake.notify_one();
}

void CCreateFolderWorker::DoWork() {
    for (;;) {
        CSubTaskInfo folder;
        {
            std::unique_lock lock(m_mutex);
            m_current.clear(); // the previous folder has been reported
            m_wake.wait_for(lock, kPollInterval,
                            [this] { return m_stop.load() || !m_queue.empty(); });
            if (m_stop.load()) {
                return;
            }
            if (m_queue.empty()) {
                continue;
            }
            folder = std::move(m_queue.front());
            m_queue.pop_front();
            m_current = folder.task_id;
        }
        std::error_code error;
        std::filesystem::create_directories(folder.local_file.path, error);
        if (!error && std::filesystem::is_directory(folder.local_file.path, error)) {
            auto done =
                std::make_unique<CChangerSubTaskProgress>(folder.task_id, folder.sub_task_path);
            done->state = kStateCompleted;
            QueueChange(std::move(done));
            continue;
        }
        // A file in the way is not a folder: the OS says "exists".
        const int err = error ? error.value() : EEXIST;
        const std::string language = GetEngineContext().settings.Language();
        QueueNew<CChangerSubTaskError>(folder.task_id, folder.sub_task_path, MapErrno(err),
                                       ErrnoText(err, PlatformTextsInEnglish(language)));
    }
}
