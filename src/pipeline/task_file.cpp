#include "pipeline/task_file.h"

#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/local_name.h"
#include "engine/message_texts.h"
#include "engine/path_text.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "engine/task_entry.h"
#include "pipeline/file_sync_thread.h"
#include "pipeline/tovu_file.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

struct SharedTaskFile {
    CTovuFile file;
    // Serialises writes, closing and renaming: the file system serialises writes to one file
    // anyway, and a waiting thread should sleep rather than spin in the kernel.
    std::mutex lock;
    bool finished = false; // renamed into place: nothing more to write (under lock)
    int users = 0;         // under the registry lock, like deleteWhenReleased
    bool deleteWhenReleased = false;
    // Held while the file is made ready on the disk, so that happens once.
    std::mutex initMutex;
    bool initialised = false;
    int initError = 0;
    bool completed = false; // the sub-task was already complete: a writer has nothing to do
    std::atomic<std::uint64_t> writeSequence{0};
    std::mutex syncMutex;
    std::atomic<std::uint64_t> syncedSequence{0};
    // Writes up to here met a failed sync: the error is reported once per open file, so no
    // later sync can vouch for them.
    std::atomic<std::uint64_t> failedThrough{0};
    std::atomic<int> failedErrno{0};
    std::atomic<std::int64_t> lastSyncStartMs{-1};
    std::atomic<std::uint64_t> bytesWritten{0};
    std::atomic<std::uint64_t> bytesAtSyncStart{0};
    std::atomic<bool> syncing{false};
    std::atomic<bool> syncPosted{false}; // a sync waits on the sync thread
};

namespace {

struct TaskFileRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<SharedTaskFile>> files;
    std::size_t users = 0;
};

TaskFileRegistry& Registry() {
    // Never destroyed: a worker left running at exit may still release its file.
    static auto* registry = new TaskFileRegistry;
    return *registry;
}

std::atomic<std::uint64_t> g_syncIntervalMs{CTaskFile::kSyncIntervalMs};

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool AcceptsWriters(const CTaskEntry& entry) {
    const std::uint32_t state = entry.State();
    return state == kStateWaiting || state == kStateWorking;
}

// Where a download's files are: the task's folder (trusted, the user chose it), the folders
// below it and the file's name. A single-file task's folder is the one that holds its file.
struct FileLocation {
    std::string root;
    std::string folder; // below the root, "/"-separated, may be empty
    std::string name;
};

std::optional<FileLocation> Locate(const std::string& taskLocalPath, const std::string& localPath) {
    const std::string taskPath = PathText(taskLocalPath).Normalize().Text();
    const std::string path = PathText(localPath).Normalize().Text();
    FileLocation location;
    std::string rest;
    if (path == taskPath) {
        const std::size_t slash = path.rfind('/');
        location.root =
            slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
        rest = slash == std::string::npos ? path : path.substr(slash + 1);
    } else if (path.starts_with(taskPath + "/")) {
        location.root = taskPath;
        rest = path.substr(taskPath.size() + 1);
    } else {
        return std::nullopt;
    }
    const std::size_t slash = rest.rfind('/');
    location.folder = slash == std::string::npos ? std::string() : rest.substr(0, slash);
    location.name = slash == std::string::npos ? rest : rest.substr(slash + 1);
    if (location.name.empty() || location.name == "." || location.name == "..") {
        return std::nullopt;
    }
    return location;
}

// The engine code of a failed file operation: a symbolic link or an odd file in the way of a
// download is refused like a bad name.
int FileFailureCode(int err) {
    return IsNotPlainFileError(err) ? engine_code::kInvalidNameFromServer : MapErrno(err);
}

// 0, or the code of the failure: a platform file code or 20108 for a name that would leave the
// task's folder or for something other than a plain file or folder in the way.
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
    const std::optional<FileLocation> location =
        pathValid ? Locate(entry->LocalPath(), sub.local_file.path) : std::nullopt;
    if (!location) {
        return engine_code::kInvalidNameFromServer;
    }
    if (use == TaskFileUse::kWrite && sub.state == kStateCompleted) {
        shared.completed = true; // a late worker of a finished file: no new temporary file
        return 0;
    }
    // Only a writer makes folders; the finishing step of an empty file is one too.
    const bool write = use == TaskFileUse::kWrite || sub.box_file.size == 0;
    const int folder = OpenFolderBelow(location->root, location->folder, write);
    if (folder < 0) {
        return FileFailureCode(LastFileError());
    }
    shared.file.SetLocation(folder, TempName(location->name), TempFilePath(sub.local_file.path));
    if (use == TaskFileUse::kFinish) {
        // Only a rename is left. An empty file has no bytes to lose and may be made again; any
        // other must be there, or the finished file would be zeros.
        if (sub.box_file.size > 0 || shared.file.Exists()) {
            return shared.file.Exists() ? 0 : FileFailureCode(LastFileError());
        }
    }
    if (!shared.file.Open(CTovuFile::kReadWrite, CTovuFile::kOpenAlways) ||
        !shared.file.SetSize(static_cast<std::int64_t>(sub.box_file.size))) {
        shared.file.Close();
        return FileFailureCode(LastFileError());
    }
    if (use == TaskFileUse::kFinish) {
        shared.file.Close();
    }
    return 0;
}

// Moves the finished file to its final name or, when that or its temporary name is taken (a
// file that is not ours), to the first free numbered name. The name it got, or nullopt.
std::optional<std::string> PlaceFinished(int folder, const std::string& temp,
                                         const std::string& wanted) {
    if (MoveNoReplace(folder, temp, wanted)) {
        return wanted;
    }
    for (int number = 1; LastFileError() == EEXIST && number <= kMaxNameNumber; ++number) {
        const std::string candidate = NumberedName(wanted, number, false);
        if (EntryExistsAt(folder, candidate) || EntryExistsAt(folder, TempName(candidate))) {
            SetLastFileError(EEXIST);
            continue;
        }
        if (MoveNoReplace(folder, temp, candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Removes a regular file only: a link or anything else of that name is not ours.
void UnlinkPlainFile(int folder, const std::string& name) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
        ::unlinkat(folder, name.c_str(), 0);
    }
}

std::string InitErrorText(int code) {
    if (code == engine_code::kInvalidNameFromServer) {
        return GetErrorText(code);
    }
    const std::string language = GetEngineContext().settings.Language();
    return ErrnoText(LastFileError(), PlatformTextsInEnglish(language));
}

} // namespace

// Syncs the file's data unless a sync that covers `sequence` already ended; the sync thread's
// and a worker's way alike. A failure is kept for every write it may have missed.
bool SyncShared(SharedTaskFile& shared, std::uint64_t sequence) {
    // One sync at a time; a worker that waited here usually finds its writes covered.
    std::lock_guard syncLock(shared.syncMutex);
    shared.syncPosted.store(false); // a request from now on is for writes this sync may miss
    if (sequence <= shared.failedThrough.load()) {
        const int err = shared.failedErrno.load();
        SetLastFileError(err != 0 ? err : EIO);
        return false;
    }
    if (shared.syncedSequence.load() >= sequence) {
        return true;
    }
    // Every write counted before the sync starts is on the disk when it ends.
    const std::uint64_t covers = shared.writeSequence.load();
    shared.bytesAtSyncStart.store(shared.bytesWritten.load());
    shared.lastSyncStartMs.store(SteadyMs());
    int handle = -1;
    {
        std::lock_guard lock(shared.lock);
        if (shared.finished) {
            return true; // renamed into place, its last parts reported and synced
        }
        handle = shared.file.DuplicateHandle();
    }
    // Writers go on while the data goes to the disk.
    shared.syncing.store(true);
    const bool synced = handle >= 0 && ::fdatasync(handle) == 0;
    const int err = handle < 0 ? LastFileError() : errno;
    shared.syncing.store(false);
    if (handle >= 0) {
        ::close(handle);
    }
    if (!synced) {
        shared.failedErrno.store(err != 0 ? err : EIO);
        shared.failedThrough.store(std::max(shared.failedThrough.load(), covers));
        SetLastFileError(err != 0 ? err : EIO);
        return false;
    }
    shared.syncedSequence.store(std::max(shared.syncedSequence.load(), covers));
    return true;
}

std::string TempFilePath(const std::string& localPath) {
    return TempName(localPath);
}

CTaskFile::~CTaskFile() {
    Release();
}

bool CTaskFile::Attach(const std::string& taskId, const std::string& subTaskPath, TaskFileUse use) {
    Release();
    const std::string key = taskId + subTaskPath;
    std::shared_ptr<SharedTaskFile> shared;
    TaskFileRegistry& registry = Registry();
    {
        std::lock_guard lock(registry.mutex);
        if (const auto it = registry.files.find(key); it != registry.files.end()) {
            shared = it->second;
        } else {
            // A task being paused, stopped or deleted gets no new file: its temporary files
            // may already have been removed.
            const std::shared_ptr<CTaskEntry> entry = FindEngineTask(taskId).entry;
            if (entry == nullptr || (use == TaskFileUse::kWrite && !AcceptsWriters(*entry))) {
                m_finished = entry != nullptr;
                return false;
            }
            shared = std::make_shared<SharedTaskFile>();
            registry.files.emplace(key, shared);
        }
        ++shared->users;
        ++registry.users;
    }
    m_shared = shared;
    m_key = key;
    std::lock_guard init(shared->initMutex);
    if (!shared->initialised) {
        shared->initialised = true;
        shared->initError = InitFile(*shared, taskId, subTaskPath, use);
    } else if (shared->initError == 0) {
        m_finished = use == TaskFileUse::kWrite && shared->completed;
        return !m_finished;
    } else {
        m_initError = shared->initError;
        return false;
    }
    m_initError = shared->initError;
    if (m_initError == 0) {
        m_finished = use == TaskFileUse::kWrite && shared->completed;
        return !m_finished;
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
    TaskFileRegistry& registry = Registry();
    {
        std::lock_guard lock(registry.mutex);
        --registry.users;
        if (--m_shared->users <= 0) {
            // Closed before the entry goes, so the next user can take the writer's lock.
            std::lock_guard fileLock(m_shared->lock);
            m_shared->file.Close();
            if (m_shared->deleteWhenReleased && m_shared->file.FolderHandle() >= 0) {
                UnlinkPlainFile(m_shared->file.FolderHandle(), m_shared->file.Name());
            }
            registry.files.erase(m_key);
        }
    }
    m_shared.reset();
    m_key.clear();
    m_initError = 0;
    m_finished = false;
}

WrittenPart CTaskFile::WriteAt(const void* buffer, std::size_t length, std::uint64_t offset) {
    WrittenPart written;
    if (m_shared == nullptr) {
        SetLastFileError(EBADF);
        return written;
    }
    std::lock_guard lock(m_shared->lock);
    if (m_shared->finished) {
        written.fileFinished = true;
        return written;
    }
    written.bytes = m_shared->file.WriteAt(buffer, length, offset);
    if (written.bytes >= 0) {
        written.sequence = m_shared->writeSequence.fetch_add(1) + 1;
        m_shared->bytesWritten.fetch_add(static_cast<std::uint64_t>(written.bytes));
    }
    return written;
}

bool CTaskFile::IsOpen() const {
    if (m_shared == nullptr) {
        return false;
    }
    std::lock_guard lock(m_shared->lock);
    return m_shared->file.IsOpen();
}

bool CTaskFile::IsSynced(std::uint64_t sequence) const {
    return m_shared != nullptr && sequence > m_shared->failedThrough.load() &&
           m_shared->syncedSequence.load() >= sequence;
}

bool CTaskFile::SyncDue() const {
    if (m_shared == nullptr) {
        return false;
    }
    // Writers never queue behind a running sync: the next one covers their parts.
    if (m_shared->syncing.load()) {
        return false;
    }
    const std::int64_t last = m_shared->lastSyncStartMs.load();
    return last < 0 || SteadyMs() - last >= static_cast<std::int64_t>(g_syncIntervalMs.load()) ||
           m_shared->bytesWritten.load() - m_shared->bytesAtSyncStart.load() >= kSyncBytes;
}

bool CTaskFile::SyncFailedFor(std::uint64_t sequence) const {
    return m_shared != nullptr && sequence <= m_shared->failedThrough.load();
}

void CTaskFile::RequestSync() {
    if (m_shared == nullptr || m_shared->syncPosted.exchange(true)) {
        return;
    }
    file_sync_thread::Post([shared = m_shared] {
        {
            // Closed by its last user meanwhile: nobody waits for this sync.
            std::lock_guard lock(shared->lock);
            if (!shared->file.IsOpen()) {
                shared->syncPosted.store(false);
                return;
            }
        }
        SyncShared(*shared, shared->writeSequence.load());
    });
}

bool CTaskFile::SyncThrough(std::uint64_t sequence) {
    if (m_shared == nullptr) {
        SetLastFileError(EBADF);
        return false;
    }
    return SyncShared(*m_shared, sequence);
}

bool CTaskFile::FinishRename() {
    if (m_shared == nullptr) {
        SetLastFileError(EBADF);
        return false;
    }
    std::lock_guard lock(m_shared->lock);
    CTovuFile& file = m_shared->file;
    const std::string temp = file.Name();
    const int folder = file.FolderHandle();
    if (folder < 0 || !HasTempSuffix(temp)) {
        SetLastFileError(ENOENT);
        return false;
    }
    // Written private; finished, it is the user's file like any other.
    if ((!file.IsOpen() && !file.Open(CTovuFile::kReadShared, CTovuFile::kOpenExisting)) ||
        !file.ApplyUserMask()) {
        file.Close();
        return false;
    }
    file.Close();
    const std::string wanted = temp.substr(0, temp.size() - kTempSuffix.size());
    std::optional<std::string> placed = PlaceFinished(folder, temp, wanted);
    if (!placed) {
        return false;
    }
    if (*placed != wanted) {
        EngineLogF(kEngineLogError, "CTaskFile::FinishRename: %s was taken, saved as %s",
                   MaskSecrets(wanted).c_str(), MaskSecrets(*placed).c_str());
    }
    // The new name must survive a power cut before the sub-task is recorded Completed.
    if (!SyncFolder(folder)) {
        EngineLogF(kEngineLogError, "CTaskFile::FinishRename: folder sync failed: %d",
                   LastFileError());
    }
    // A worker still running on the file (a range fetched twice after a pause) stops quietly.
    m_shared->finished = true;
    return true;
}

void CTaskFile::DeleteTempFile(const CSubTaskInfo& sub) {
    TaskFileRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (const auto it = registry.files.find(sub.task_id + sub.sub_task_path);
        it != registry.files.end()) {
        it->second->deleteWhenReleased = true;
        return;
    }
    const std::shared_ptr<CTaskEntry> entry = FindEngineTask(sub.task_id).entry;
    const std::optional<FileLocation> location =
        entry != nullptr ? Locate(entry->LocalPath(), sub.local_file.path) : std::nullopt;
    const int folder = location ? OpenFolderBelow(location->root, location->folder, false) : -1;
    if (folder >= 0) {
        UnlinkPlainFile(folder, TempName(location->name));
        ::close(folder);
    }
}

void CTaskFile::SetSyncIntervalForTesting(std::uint64_t milliseconds) {
    g_syncIntervalMs.store(milliseconds == 0 ? kSyncIntervalMs : milliseconds);
}

std::size_t CTaskFile::OpenFileCount() {
    TaskFileRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.users;
}
