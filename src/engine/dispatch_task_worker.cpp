#include "engine/dispatch_task_worker.h"

#include "engine/changer_errors.h"
#include "engine/changer_sub_task_progress.h"
#include "engine/changer_task_state.h"
#include "engine/dispatch_budget.h"
#include "engine/download_ranges.h"
#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/file_admission.h"
#include "engine/local_name.h"
#include "engine/message_texts.h"
#include "engine/part_layout.h"
#include "engine/platform_error.h"
#include "engine/task_mgr.h"
#include "engine/task_mgr_events.h"
#include "engine/tovu_trans_mgr.h"
#include "log/debug_trace.h"

#include <algorithm>
#include <filesystem>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr std::int32_t kIncrementalSyncMethod = 4;
constexpr std::chrono::milliseconds kFolderWorkerStopBound{100};

bool TempFileExists(const CSubTaskInfo& sub) {
    std::error_code error;
    return std::filesystem::exists(TempName(sub.local_file.path), error);
}

} // namespace

CDispatchTaskWorker::CDispatchTaskWorker(CTaskMgr& tasks) : m_tasks(tasks) {
    m_folderWorker.SetAutoDelete(false);
}

CDispatchTaskWorker::~CDispatchTaskWorker() {
    StopForDestruction();
}

void CDispatchTaskWorker::QueueChange(std::unique_ptr<CTaskInfoChangerBase> changer) {
    if (changer == nullptr) {
        return;
    }
    {
        std::lock_guard lock(m_changeMutex);
        for (const auto& queued : m_changes) {
            if (queued->TryMerge(*changer)) {
                return;
            }
        }
        m_changes.push_back(std::move(changer));
        m_wakeRequested = true;
    }
    m_wake.notify_one();
}

std::size_t CDispatchTaskWorker::QueuedChangeCount() const {
    std::lock_guard lock(m_changeMutex);
    return m_changes.size();
}

void CDispatchTaskWorker::ApplyQueuedChanges() {
    for (;;) {
        std::unique_ptr<CTaskInfoChangerBase> changer;
        {
            std::lock_guard lock(m_changeMutex);
            if (m_changes.empty()) {
                return;
            }
            changer = std::move(m_changes.front());
            m_changes.pop_front();
        }
        changer->DoChange();
    }
}

void CDispatchTaskWorker::Wake() {
    {
        std::lock_guard lock(m_changeMutex);
        m_wakeRequested = true;
    }
    m_wake.notify_one();
}

void CDispatchTaskWorker::RequestStop() {
    {
        std::lock_guard lock(m_changeMutex);
        m_stop.store(true);
    }
    m_wake.notify_one();
}

void CDispatchTaskWorker::PurgeTask(const std::string& taskId) {
    for (RangeRequest& range : m_downloadQueue) {
        if (range.taskId == taskId) {
            range.taskId.clear();
        }
    }
    m_queuedSubTasks.erase(taskId);
    m_folderSubTasks.erase(taskId);
    m_subTaskRestarts.erase(taskId);
    m_folderWorker.RemoveTask(taskId);
}

std::size_t CDispatchTaskWorker::RestartSubTask(const std::string& taskId,
                                                const std::string& path) {
    for (RangeRequest& range : m_downloadQueue) {
        if (range.taskId == taskId && range.subTaskPath == path) {
            range.taskId.clear();
        }
    }
    if (const auto queued = m_queuedSubTasks.find(taskId); queued != m_queuedSubTasks.end()) {
        queued->second.erase(path);
    }
    return ++m_subTaskRestarts[taskId][path];
}

int CDispatchTaskWorker::DownloadLimit() const {
    return DownloadWorkerLimit(GetEngineContext().settings.SpeedFactor());
}

void CDispatchTaskWorker::DoWork() {
    DebugTrace("%s()::%d %ld\r\n", "CDispatchTaskWorker::DoWork", 77,
               static_cast<long>(::syscall(SYS_gettid)));
    if (GetEngineContext().settings.LoadAtStart()) {
        m_tasks.LoadAll();
    }
    m_folderWorker.SetAutoDelete(false);
    m_folderWorker.Start();
    EngineLog(kEngineLogInfo, "CDispatchTaskWorker::DoWork:initFinished");
    auto lastPass = std::chrono::steady_clock::now();
    while (!StopRequested()) {
        {
            std::unique_lock lock(m_changeMutex);
            m_wake.wait_until(lock, lastPass + kPassInterval,
                              [this] { return m_wakeRequested || m_stop.load(); });
            // Progress reports arrive all the time: a wake-up never makes passes closer than
            // the minimum gap.
            m_wake.wait_until(lock, lastPass + kMinPassGap, [this] { return m_stop.load(); });
            m_wakeRequested = false;
        }
        lastPass = std::chrono::steady_clock::now();
        if (StopRequested()) {
            break;
        }
        // A pass that throws (memory running out) is logged and the next one tries again:
        // the dispatcher is the engine's only driver and must not end with it.
        try {
            RunPass();
        } catch (...) {
            LogEscapedException("CDispatchTaskWorker::RunPass");
        }
    }
    if (!m_folderWorker.StopAndWait(kFolderWorkerStopBound)) {
        m_folderWorker.Terminate();
    }
}

void CDispatchTaskWorker::RunPass() {
    // Each step looks at the stop flag first, so a stop request ends the pass at once.
    using Step = void (CDispatchTaskWorker::*)();
    static constexpr Step kSteps[] = {
        &CDispatchTaskWorker::PrepareNewTasks,
        // The upload and synchronisation steps would run here; this program has none.
        &CDispatchTaskWorker::BuildDownloadRanges,
        &CDispatchTaskWorker::LaunchDownloadWorkers,
        &CDispatchTaskWorker::RetryErroredTasks,
        &CDispatchTaskWorker::WatchRunningTasks,
        &CDispatchTaskWorker::ApplyQueuedChanges,
    };
    for (const Step step : kSteps) {
        if (StopRequested()) {
            return;
        }
        (this->*step)();
    }
    if (StopRequested()) {
        return;
    }
    m_tasks.CheckSave();
    if (StopRequested()) {
        return;
    }
    ReapFinishedWorkers();
    m_rangeCount.store(m_downloadQueue.size());
    ++m_passes;
}

void CDispatchTaskWorker::PrepareNewTasks() {
    std::vector<std::string> ids = m_tasks.ListTasks(kStateWaitPreparing);
    m_tasks.SortTasks(ids);
    ITransferWorkers& workers = TransferWorkers();
    for (const std::string& id : ids) {
        CTaskInfo task;
        // An earlier preparation that is still stopping would refuse the new one and leave the
        // task in Preparing with nothing preparing it: wait for it to end.
        if (!m_tasks.GetTask(id, task) || workers.IsPreparing(id)) {
            continue;
        }
        // Queued before the worker starts, so the worker's reports come after it.
        QueueChange(std::make_unique<CChangerChangeTaskState>(id, kStatePreparing));
        if (!workers.StartPrepare(task)) {
            QueueChange(std::make_unique<CChangerTaskError>(id, platform_error::kGeneralFailure,
                                                            std::string()));
        }
    }
}

void CDispatchTaskWorker::BuildDownloadRanges() {
    if (m_downloadQueue.size() > kQueueRefillLevel) {
        return;
    }
    const auto limit = static_cast<std::size_t>(std::max(DownloadLimit(), 0));
    std::vector<std::string> ids = m_tasks.ListDownloadTasks(kStateWorking);
    if (ids.size() < limit) {
        const std::vector<std::string> waiting = m_tasks.ListDownloadTasks(kStateWaiting);
        const std::size_t take = std::min(limit - ids.size(), waiting.size());
        ids.insert(ids.end(), waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(take));
    }
    m_tasks.SortTasks(ids);
    for (const std::string& id : ids) {
        const std::shared_ptr<CTaskEntry> entry = m_tasks.FindTask(id);
        if (entry == nullptr) {
            continue;
        }
        const CTaskInfo task = entry->Info();
        const std::vector<std::string> paths =
            entry->ListSubTasks(kStateWaiting, kAllTransMethods, 0, kQueueRefillLevel);
        // The set grows with every file queued: look it up, never copy it.
        const auto known = m_queuedSubTasks.find(id);
        for (const std::string& path : paths) {
            if (known == m_queuedSubTasks.end() || !known->second.contains(path)) {
                QueueSubTaskRanges(*entry, task, path);
            }
        }
    }
}

void CDispatchTaskWorker::QueueSubTaskRanges(CTaskEntry& entry, const CTaskInfo& task,
                                             const std::string& path) {
    CSubTaskInfo sub;
    bool localPathValid = true;
    if (!entry.GetSubTask(path, sub, &localPathValid)) {
        return;
    }
    if (!localPathValid) {
        // A name from the server that would leave the task's folder: nothing is created.
        m_queuedSubTasks[task.task_id].insert(path);
        QueueChange(std::make_unique<CChangerSubTaskError>(
            task.task_id, path, engine_code::kInvalidNameFromServer, std::string()));
        return;
    }
    if (sub.is_folder) {
        HandOverFolder(task.task_id, sub);
        return;
    }
    // Workers of an earlier run of the file (stopped, maybe fetching a version it no longer
    // has) may still write: new ones start at the same offsets only once they have ended.
    if (TransferWorkers().CountSubTaskWorkers(task.task_id, path) > 0) {
        return;
    }
    m_queuedSubTasks[task.task_id].insert(path);
    const bool started = TempFileExists(sub);
    // Checked before any temporary file is made: a size the service should not have listed,
    // or one the save folder's file system cannot hold (pre-sizing would fail later anyway).
    if (const int refused = FileAdmissionCode(
            sub.box_file.size, started,
            started || sub.box_file.size == 0 ? 0 : FreeBytesAt(sub.local_file.path));
        refused != 0) {
        QueueChange(std::make_unique<CChangerSubTaskError>(
            task.task_id, path, refused,
            refused == platform_error::kDiskFull ? GetErrorText(refused) : UnusableReplyText()));
        return;
    }
    const auto partSize = static_cast<std::uint32_t>(PartSizeFor(false));
    const auto queueRange = [&](std::uint64_t start, std::uint64_t end) {
        m_downloadQueue.push_back(
            RangeRequest{task.task_id, path, partSize, sub.box_file, start, end, sub.validator});
    };
    if (sub.box_file.size == 0) {
        queueRange(0, 0);
        return;
    }
    if (sub.trans_bitmap.Any() && !started) {
        // The parts recorded as done are gone with their file: fetch it from the start.
        sub.trans_bitmap = PartBitmap();
        sub.hash_bitmap = PartBitmap();
        sub.send_bytes = 0;
        entry.SetSubTaskBytes(path, 0);
        entry.StoreSubTask(sub);
    }
    for (const auto& [start, end] : MissingRanges(sub.trans_bitmap, sub.box_file.size, partSize)) {
        queueRange(start, end);
    }
}

void CDispatchTaskWorker::HandOverFolder(const std::string& taskId, const CSubTaskInfo& folder) {
    if (!m_folderSubTasks[taskId].insert(folder.sub_task_path).second) {
        return;
    }
    m_folderWorker.Add(folder);
    QueueChange(std::make_unique<CChangerChangeTaskState>(taskId, kStateWorking));
}

void CDispatchTaskWorker::LaunchDownloadWorkers() {
    ITransferWorkers& workers = TransferWorkers();
    const auto limit = static_cast<std::size_t>(std::max(DownloadLimit(), 0));
    std::size_t running = workers.CountPartWorkers(std::string());
    if (running >= limit) {
        return;
    }
    std::size_t taken = 0;
    while (taken < m_downloadQueue.size() && running < limit) {
        RangeRequest range = std::move(m_downloadQueue[taken++]);
        if (range.taskId.empty()) {
            continue;
        }
        workers.StartPartWorker(range);
        QueueChange(std::make_unique<CChangerChangeTaskState>(range.taskId, kStateWorking));
        auto working = std::make_unique<CChangerSubTaskProgress>(range.taskId, range.subTaskPath);
        working->state = kStateWorking;
        QueueChange(std::move(working));
        ++running;
    }
    m_downloadQueue.erase(m_downloadQueue.begin(),
                          m_downloadQueue.begin() + static_cast<std::ptrdiff_t>(taken));
    while (running < limit) {
        IRangeWorker* largest = workers.FindLargestRange();
        if (largest == nullptr) {
            return;
        }
        const std::uint64_t current = largest->CurrentOffset();
        const std::uint64_t end = largest->EndOffset();
        const std::uint32_t partSize = largest->PartSize();
        if (end <= current || end - current <= kMinSplitRemaining || partSize == 0) {
            return;
        }
        if (!largest->SplitAt(SplitOffset(current, end, partSize))) {
            return;
        }
        ++running;
    }
}

void CDispatchTaskWorker::RetryErroredTasks() {
    if (!m_tasks.ListTasks(kStateWaiting).empty()) {
        return;
    }
    const std::uint64_t nowSeconds = EngineNow() / 1000;
    for (const std::string& id : m_tasks.ListTasks(kStateError)) {
        CTaskInfo task;
        if (!m_tasks.GetTask(id, task) || task.retry_time >= nowSeconds) {
            continue;
        }
        const std::uint32_t state = task.sub_task_count > 0 ? kStateWaiting : kStateWaitPreparing;
        QueueChange(std::make_unique<CChangerChangeTaskState>(id, state));
    }
}

void CDispatchTaskWorker::WatchRunningTasks() {
    ITransferWorkers& workers = TransferWorkers();
    auto* events = static_cast<ITaskMgrEvents*>(GetEngineContext().transMgr.load());
    for (const std::string& id : m_tasks.ListTasks(kStateWorking)) {
        const std::shared_ptr<CTaskEntry> entry = m_tasks.FindTask(id);
        if (entry == nullptr) {
            continue;
        }
        const CTaskInfo task = entry->Info();
        if (task.transmethod == kIncrementalSyncMethod) {
            continue;
        }
        const std::uint64_t last = entry->LastActivity();
        if (last == 0) {
            continue;
        }
        const std::uint64_t now = EngineNow();
        const std::uint64_t idle = now > last ? now - last : 0;
        // Ranges waiting for a free worker, or folders still to be created, are not a stall.
        if (idle > kActivityIntervalMs && workers.CountPartWorkers(id) == 0 && HasQueuedWork(id)) {
            continue;
        }
        if (idle > kActivityIntervalMs) {
            if (workers.CountPartWorkers(id) > 0) {
                entry->UpdateUsedTime();
                TellTaskChanged(events, task.group_id, id, entry->State());
                continue;
            }
            if (task.sub_task_count == task.complete_sub_task_count) {
                QueueChange(std::make_unique<CChangerChangeTaskState>(id, kStateCompleted));
            }
        }
        if (idle >= kStallRestartMs && workers.CountPartWorkers(id) == 0) {
            // Its workers all ended without finishing it: start it afresh.
            QueueChange(std::make_unique<CChangerChangeTaskState>(id, kStatePaused));
            QueueChange(std::make_unique<CChangerChangeTaskState>(id, kStateWaiting));
        }
    }
}

bool CDispatchTaskWorker::HasQueuedWork(const std::string& taskId) const {
    return std::any_of(m_downloadQueue.begin(), m_downloadQueue.end(),
                       [&taskId](const RangeRequest& range) { return range.taskId == taskId; }) ||
           m_folderWorker.HasTask(taskId);
}
