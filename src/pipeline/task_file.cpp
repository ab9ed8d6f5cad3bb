#include "pipeline/task_file.h"

#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "engine/task_entry.h"
#include "pipeline/tovu_file.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unistd.h>

struct SharedTaskFile {
    CTovuFile file;
    // Shared by writes and syncs, exclusive for closing and renaming.
    std::shared_mutex lock;
    int users = 0;
    bool deleteWhenReleased = false;
    bool initialised = false;
    int initError = 0;
    std::atomic<std::uint64_t> writeSequence{0};
    std::mutex syncMutex;
    std::atomic<std::uint64_t> syncedSequence{0};
    std::atomic<std::int64_t> lastSyncStartMs{-1};
};

namespace {

std::mutex g_registryMutex;
std::map<std::string, std::shared_ptr<SharedTaskFile>> g_registry;
std::size_t g_users = 0;
// Held while a shared file is made ready on the disk, so that happens once.
std::mutex g_initMutex;

constexpr const char* kTempSuffix = ".tovutmp";

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// 0, or the code of the failure: a platform file code or 20108 for a name that would leave the
// task's folder.
int InitFile(SharedTaskFile& shared, const std::string& taskId, const std::string& subTaskPath,
             TaskFileUse use) {
    shared.file.Close();
    const std::shared_ptr<CTaskEntry> entry = FindEngineTask(taskId).entry;
    CSubTaskInfo sub;
    bool pathValid = true;
    if (entry == nullptr || !entry->GetSubTask(subTaskPath, sub, &pathValid)) {
        SetLastFileError(ENOENT);
        return platform_error::kFileNotFound;
    }
    if (!pathValid) {
        return engine_code::kInvalidNameFromServer;
    }
    const std::string path = TempFilePath(sub.local_file.path);
    // An empty file has no bytes to lose: finishing may make it again.
    const bool mustExist = use == TaskFileUse::kFinish && sub.box_file.size > 0;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if ((!folder.empty() && !CreateDirectories(folder)) || !shared.file.SetPath(path) ||
        !shared.file.Open(CTovuFile::kReadWrite,
                          mustExist ? CTovuFile::kOpenExisting : CTovuFile::kOpenAlways) ||
        !shared.file.SetSize(static_cast<std::int64_t>(sub.box_file.size))) {
        shared.file.Close();
        return MapErrno(LastFileError());
    }
    return 0;
}

std::string InitErrorText(int code) {
    if (code == engine_code::kInvalidNameFromServer) {
        return GetErrorText(code);
    }
    const std::string language = GetEngineContext().settings.Language();
    return ErrnoText(LastFileError(), PlatformTextsInEnglish(language));
}

} // namespace

std::string TempFilePath(const std::string& localPath) {
    return localPath + kTempSuffix;
}

CTaskFile::~CTaskFile() {
    Release();
}

bool CTaskFile::Attach(const std::string& taskId, const std::string& subTaskPath, TaskFileUse use) {
    Release();
    const std::string key = taskId + subTaskPath;
    std::shared_ptr<SharedTaskFile> shared;
    {
        std::lock_guard lock(g_registryMutex);
        if (const auto it = g_registry.find(key); it != g_registry.end()) {
            shared = it->second;
        } else if (FindEngineTask(taskId).entry != nullptr) {
            shared = std::make_shared<SharedTaskFile>();
            g_registry.emplace(key, shared);
        } else {
            return false;
        }
        ++shared->users;
        ++g_users;
    }
    m_shared = shared;
    m_key = key;
    std::lock_guard init(g_initMutex);
    if (shared->initialised) {
        m_initError = shared->initError;
        return m_initError == 0;
    }
    shared->initialised = true;
    shared->initError = InitFile(*shared, taskId, subTaskPath, use);
    m_initError = shared->initError;
    if (m_initError == 0) {
        return true;
    }
    EngineLogF(kEngineLogError, "CTaskFile InitFile error, task:%s, subTask:%s", taskId.c_str(),
               MaskSecrets(subTaskPath).c_str());
    // The finishing step reports its own failure; a worker's is reported here, once.
    if (use == TaskFileUse::kWrite) {
        QueueNew<CChangerSubTaskError>(taskId, subTaskPath, m_initError,
                                       InitErrorText(m_initError));
    }
    return false;
}

void CTaskFile::Release() {
    if (m_shared == nullptr) {
        return;
    }
    {
        std::lock_guard lock(g_registryMutex);
        --g_users;
        if (--m_shared->users <= 0) {
            // Closed before the entry goes, so the next user can take the writer's lock.
            std::unique_lock fileLock(m_shared->lock);
            const std::string path = m_shared->file.GetPath();
            m_shared->file.Close();
            if (m_shared->deleteWhenReleased && !path.empty()) {
                ::unlink(path.c_str());
            }
            g_registry.erase(m_key);
        }
    }
    m_shared.reset();
    m_key.clear();
    m_initError = 0;
}

WrittenPart CTaskFile::WriteAt(const void* buffer, std::size_t length, std::uint64_t offset) {
    WrittenPart written;
    if (m_shared == nullptr) {
        SetLastFileError(EBADF);
        return written;
    }
    std::shared_lock lock(m_shared->lock);
    written.bytes = m_shared->file.WriteAt(buffer, length, offset);
    if (written.bytes >= 0) {
        written.sequence = m_shared->writeSequence.fetch_add(1) + 1;
    }
    return written;
}

bool CTaskFile::IsOpen() const {
    if (m_shared == nullptr) {
        return false;
    }
    std::shared_lock lock(m_shared->lock);
    return m_shared->file.IsOpen();
}

bool CTaskFile::IsSynced(std::uint64_t sequence) const {
    return m_shared != nullptr && m_shared->syncedSequence.load() >= sequence;
}

bool CTaskFile::SyncDue() const {
    if (m_shared == nullptr) {
        return false;
    }
    const std::int64_t last = m_shared->lastSyncStartMs.load();
    return last < 0 || SteadyMs() - last >= static_cast<std::int64_t>(kSyncIntervalMs);
}

bool CTaskFile::SyncThrough(std::uint64_t sequence) {
    if (m_shared == nullptr) {
        SetLastFileError(EBADF);
        return false;
    }
    SharedTaskFile& shared = *m_shared;
    // One sync at a time; a worker that waited here usually finds its writes covered.
    std::lock_guard syncLock(shared.syncMutex);
    if (shared.syncedSequence.load() >= sequence) {
        return true;
    }
    // Every write counted before the sync starts is on the disk when it ends.
    const std::uint64_t covers = shared.writeSequence.load();
    shared.lastSyncStartMs.store(SteadyMs());
    std::shared_lock lock(shared.lock);
    if (!shared.file.SyncData()) {
        return false;
    }
    shared.syncedSequence.store(std::max(shared.syncedSequence.load(), covers));
    return true;
}

bool CTaskFile::FinishRename() {
    if (m_shared == nullptr) {
        SetLastFileError(EBADF);
        return false;
    }
    std::unique_lock lock(m_shared->lock);
    const std::string path = m_shared->file.GetPath();
    if (!path.ends_with(kTempSuffix)) {
        SetLastFileError(ENOENT);
        return false;
    }
    m_shared->file.Close();
    return MoveReplacing(path, path.substr(0, path.size() - std::string_view(kTempSuffix).size()));
}

void CTaskFile::DeleteTempFile(const CSubTaskInfo& sub) {
    std::lock_guard lock(g_registryMutex);
    if (const auto it = g_registry.find(sub.task_id + sub.sub_task_path); it != g_registry.end()) {
        it->second->deleteWhenReleased = true;
        return;
    }
    // Only a file: a folder of that name is not ours to remove.
    ::unlink(TempFilePath(sub.local_file.path).c_str());
}

std::size_t CTaskFile::OpenFileCount() {
    std::lock_guard lock(g_registryMutex);
    return g_users;
}
