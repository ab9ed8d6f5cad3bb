#include "engine/changer_sub_task_progress.h"

#include "engine/action_record.h"
#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/message_texts.h"
#include "engine/part_layout.h"
#include "engine/secret_mask.h"
#include "engine/send_action_record_worker.h"
#include "engine/state_transitions.h"
#include "engine/task_mgr.h"
#include "engine/transfer_workers.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::int32_t kIncrementalSyncMethod = 4;
constexpr std::int32_t kSyncFinishedState = 16;
constexpr std::int32_t kNoChange = 1;
constexpr std::uint64_t kSmallUploadLimit = 524288;

std::int32_t CompletedKind(const CSubTaskInfo& sub) {
    if (!sub.is_upload) {
        return kActionDownload;
    }
    if (sub.transmethod == kIncrementalSyncMethod) {
        return kActionSyncFinished;
    }
    return sub.size <= kSmallUploadLimit ? kActionSmallUpload : kActionLargeUpload;
}

std::int32_t TaskSpeed(const std::string& taskId) {
    const std::uint64_t speed = GetEngineContext().speedMeter.GetSpeed(taskId);
    return static_cast<std::int32_t>(
        std::min<std::uint64_t>(speed, std::numeric_limits<std::int32_t>::max()));
}

} // namespace

bool CChangerSubTaskProgress::TryMerge(const CTaskInfoChangerBase& other) {
    const auto* progress = dynamic_cast<const CChangerSubTaskProgress*>(&other);
    if (progress == nullptr || progress->state != state ||
        progress->m_subTaskPath != m_subTaskPath || progress->m_taskId != m_taskId) {
        return false;
    }
    // Only reports that differ in parts and bytes collapse, so nothing else is lost. Undone
    // parts depend on the order of the reports, which a merge would change.
    if (undoParts.Any() || progress->undoParts.Any() || progress->newBoxPath != newBoxPath ||
        progress->transmethod != transmethod || progress->rsyncstate != rsyncstate ||
        progress->revision != revision || progress->completedBytes != completedBytes ||
        progress->validator != validator || progress->validatorLearned || validatorLearned) {
        return false;
    }
    hashedParts.Union(progress->hashedParts);
    doneParts.Union(progress->doneParts);
    sentBytes += progress->sentBytes;
    return true;
}

void CChangerSubTaskProgress::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    if (sentBytes > 0) {
        entry->AddSentBytes(sentBytes);
    }
    CSubTaskInfo sub;
    // A completed sub-task is final: a late report must not finish its file a second time.
    if (!entry->GetSubTask(m_subTaskPath, sub) || sub.state == kStateCompleted) {
        return;
    }
    const CSubTaskInfo before = sub;
    if (validator.has_value()) {
        if (validatorLearned && sub.validator.empty()) {
            sub.validator = *validator;
        }
        if (*validator != sub.validator) {
            return; // bytes of another version of the file
        }
    }
    std::uint32_t requested = state;
    // A report that a worker started counts only while the task runs and the sub-task was
    // waiting for it or working: one that arrives after a pause (and a resume) would leave the
    // sub-task Working with no worker, and one after a failure would hide the error.
    if (requested == kStateWorking &&
        (entry->State() != kStateWorking ||
         (sub.state != kStateWaiting && sub.state != kStateWorking))) {
        requested = 0;
    }

    if (hashedParts.Any()) {
        sub.hash_bitmap.Union(hashedParts);
    }
    if (doneParts.Any() || undoParts.Any()) {
        // Sized to the file's parts once it is being fetched (admitted), never before.
        const std::uint64_t parts = PartCount(sub.size, PartSizeFor(sub.is_upload));
        if (sub.size <= kMaxItemSize && sub.trans_bitmap.BitCount() < parts) {
            sub.trans_bitmap.Resize(static_cast<std::size_t>(parts));
        }
        sub.trans_bitmap.Union(doneParts);
        sub.trans_bitmap.Difference(undoParts);
        entry->SetSubTaskBytes(m_subTaskPath, sub.CompleteBytes());
        // Without a requested state the sub-task's own one counts, so a file that has all its
        // parts is never left unfinished.
        const std::uint32_t next = requested != 0 ? requested : sub.state;
        if (sub.HasAllParts() && !sub.is_upload &&
            (next == kStateWorking || next == kStateWaiting)) {
            requested = kStateCompleted;
        }
    }
    if (transmethod != kNoChange && transmethod != sub.transmethod) {
        sub.transmethod = transmethod;
    }
    if (rsyncstate != kNoChange && rsyncstate != sub.rsyncstate) {
        sub.rsyncstate = rsyncstate;
        if (rsyncstate == kSyncFinishedState && sub.transmethod == kIncrementalSyncMethod) {
            requested = kStateCompleted;
        }
    }
    if (!revision.empty() && revision != sub.box_file.rev) {
        sub.box_file.rev = revision;
    }
    if (completedBytes > 0) {
        entry->SetSubTaskBytes(m_subTaskPath, completedBytes);
    }

    const bool completes = requested == kStateCompleted;
    if (completes && sub.transmethod != kIncrementalSyncMethod && !sub.is_folder &&
        !sub.is_upload) {
        // The file takes its name before anything records it as done (or reports it).
        const int code = TransferWorkers().FinishDownload(sub);
        if (code != 0) {
            entry->SetSubTaskBytes(m_subTaskPath, before.CompleteBytes()); // nothing was stored
            QueueNew<CChangerSubTaskError>(m_taskId, m_subTaskPath, code, GetErrorText(code));
            EngineLogF(kEngineLogError, "SetDownloadFinish error: task:%s, subTask:%s",
                       m_taskId.c_str(), MaskSecrets(m_subTaskPath).c_str());
            return;
        }
    }
    if (requested != 0) {
        sub.state = requested;
        if (completes) {
            entry->SetSubTaskBytes(m_subTaskPath, sub.size);
            if (!sub.is_folder) {
                ReportSuccess(CompletedKind(sub), sub.box_file.path,
                              static_cast<std::int64_t>(sub.size), TaskSpeed(m_taskId));
            }
        }
    }
    if (requested == 0 && sub == before) {
        return;
    }

    entry->StoreSubTask(sub);
    // Reported parts are on the disk already: recorded at once, a crash fetches them no more.
    if (doneParts.Any() || requested != 0) {
        tasks->RequestSubTaskFlush(m_taskId);
    }
    CTaskInfo task = entry->Info();
    task.transmethod = sub.transmethod;
    task.rsyncstate = sub.rsyncstate;
    tasks->UpdateTask(task);

    task = entry->Info();
    if (task.sub_task_count == task.complete_sub_task_count && task.state != kStateCompleted &&
        IsStateChangeAllowed(task.state, kStateCompleted)) {
        if (task.sub_task_count == 1 && !newBoxPath.empty()) {
            task.new_box_path = newBoxPath;
        }
        task.SetState(kStateCompleted);
        tasks->UpdateTask(task);
        if (task.transmethod != kIncrementalSyncMethod) {
            PurgeTask(m_taskId);
        }
    }
    if (completes) {
        QueueTaskFailure(*entry);
    }
}
