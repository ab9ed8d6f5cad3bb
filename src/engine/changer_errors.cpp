#include "engine/changer_errors.h"

#include "engine/change_queue.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "engine/retry_time.h"
#include "engine/secret_mask.h"
#include "engine/state_transitions.h"
#include "engine/task_mgr.h"
#include "log/debug_trace.h"

namespace {

constexpr std::int32_t kInvalidSession = 20003;

// The session id is a credential: the log only tells whether there is one.
std::string MaskedSession() {
    return GetEngineContext().settings.SessionText().empty() ? std::string() : "***";
}

} // namespace

std::optional<AggregatedError> TaskFailure(const CTaskEntry& entry) {
    const std::vector<std::string> failed =
        entry.ListSubTasks(kStateError, kAllTransMethods, 0, -1);
    if (failed.empty()) {
        return std::nullopt;
    }
    // Counted rather than walked: a folder task can have many thousands of completed sub-tasks.
    if (failed.size() + entry.CompletedCount() != entry.Info().sub_task_count) {
        return std::nullopt;
    }
    std::optional<AggregatedError> error;
    for (const std::string& path : failed) {
        CSubTaskInfo sub;
        if (!entry.GetSubTask(path, sub)) {
            continue;
        }
        if (!error.has_value()) {
            error = AggregatedError{sub.error_code, sub.error_info};
        } else if (sub.error_code != error->code) {
            error =
                AggregatedError{engine_code::kMultiErrors, GetErrorText(engine_code::kMultiErrors)};
            break;
        }
    }
    return error;
}

void QueueTaskFailure(const CTaskEntry& entry) {
    if (std::optional<AggregatedError> error = TaskFailure(entry)) {
        QueueNew<CChangerTaskError>(entry.Info().task_id, error->code, std::move(error->text));
    }
}

void CChangerSubTaskError::DoChange() {
    if (m_code == platform_error::kCancelled) {
        return;
    }
    if (m_text.empty()) {
        m_text = GetErrorText(m_code);
    }
    EngineLogF(kEngineLogError, "SubTaskError: task:%s, subTask:%s, errorCode:%d, errorInfo:%s",
               m_taskId.c_str(), MaskSecrets(m_subTaskPath).c_str(), m_code,
               MaskSecrets(m_text).c_str());
    if (m_code == kInvalidSession) {
        EngineLogF(kEngineLogError, "Session:%s", MaskedSession().c_str());
    }

    const std::shared_ptr<CTaskEntry> entry = FindEngineTask(m_taskId).entry;
    CSubTaskInfo sub;
    if (entry == nullptr || !entry->GetSubTask(m_subTaskPath, sub) ||
        !IsStateChangeAllowed(sub.state, kStateError)) {
        DebugTrace("%s()::%d %d\r\n", "CChangerSubTaskError::DoChange", 122, 0);
        return;
    }
    sub.state = kStateError;
    sub.error_code = m_code;
    sub.error_info = m_text;
    if (m_code == engine_code::kLocalHashError) {
        // The file starts again from its first part.
        sub.trans_bitmap = PartBitmap();
        sub.hash_bitmap = PartBitmap();
        sub.send_bytes = 0;
        entry->SetSubTaskBytes(m_subTaskPath, 0);
    }
    DebugTrace("error subTask: %s\r\n", m_subTaskPath.c_str());
    DebugTrace("error code: %d\r\n", m_code);
    DebugTrace("error info: %s\r\n", m_text.c_str());
    entry->StoreSubTask(sub);
    QueueTaskFailure(*entry);
}

void CChangerTaskError::DoChange() {
    EngineLogF(kEngineLogError, "TaskError: task:%s, errorCode:%d, errorInfo:%s", m_taskId.c_str(),
               m_code, MaskSecrets(m_text).c_str());
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    CTaskInfo task = entry->Info();
    if (!IsStateChangeAllowed(task.state, kStateError)) {
        return;
    }
    if (task.state == kStateWaitPreparing || task.state == kStatePreparing) {
        // The failed preparation's sub-tasks and any pause asked for during it are dropped;
        // the next preparation starts from nothing.
        entry->ResetSubTasks();
        entry->SetPendingState(kStateWaiting);
    }
    task.SetState(kStateError);
    task.error_code = m_code;
    task.error_info = m_text;
    task.retry_time = TaskRetryTime(m_code);
    tasks->UpdateTask(task);
    StopTaskWorkers(m_taskId);
}
