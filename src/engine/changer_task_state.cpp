#include "engine/changer_task_state.h"

#include "engine/change_queue.h"
#include "engine/changer_cleanup.h"
#include "engine/engine_context.h"
#include "engine/engine_task.h"
#include "engine/state_transitions.h"
#include "engine/task_mgr.h"
#include "engine/transfer_workers.h"

namespace {

constexpr std::uint32_t kUnfinishedStates = kStateWaitPreparing | kStatePreparing | kStateWorking |
                                            kStatePaused | kStateWaiting | kStateError | kStateStop;

bool IsPreparing(std::uint32_t state) {
    return state == kStateWaitPreparing || state == kStatePreparing;
}

// A request the preparation applies when it ends.
bool IsPendingRequest(std::uint32_t state) {
    return state == kStatePaused || state == kStateWaiting || state == kStateStop;
}

void DeleteTask(CTaskMgr& tasks, const CTaskEntry& entry, const std::string& taskId) {
    StopTaskWorkers(taskId);
    if (!entry.IsUpload()) {
        // Every unfinished sub-task may own a temporary file: after a restart even those that
        // were working are Waiting again.
        ITransferWorkers& workers = TransferWorkers();
        ForEachSubTask(entry, kUnfinishedStates, [&workers](CSubTaskInfo& sub, bool pathValid) {
            if (pathValid && !sub.is_folder) {
                workers.DeleteTempFile(sub);
            }
        });
    }
    tasks.RemoveTask(taskId, false);
    GetEngineContext().speedMeter.Remove(taskId);
    QueueNew<CChangerDeleteTmpFile>();
}

} // namespace

void CChangerChangeTaskState::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    CTaskInfo task = entry->Info();
    const std::uint32_t current = task.state;
    if (m_state == current && m_state != kDelete) {
        return;
    }
    if (IsPreparing(current) && IsPendingRequest(m_state)) {
        entry->SetPendingState(m_state);
        return;
    }
    std::uint32_t target = kStateStop;
    if (m_state != kDelete) {
        // The edge is checked for the state asked for, so a paused or stopped task that was
        // never prepared can still be started.
        if (!IsStateChangeAllowed(current, m_state)) {
            return;
        }
        target =
            m_state == kStateWaiting && task.sub_task_count == 0 ? kStateWaitPreparing : m_state;
        // Every sub-task done (the last part arrived just as the task was paused or stopped):
        // resuming finishes the task rather than leaving it Waiting with nothing to do.
        if (m_state == kStateWaiting && task.sub_task_count > 0 &&
            task.complete_sub_task_count == task.sub_task_count) {
            target = kStateCompleted;
        }
    }
    if (target == kStatePreparing) {
        // A preparation always starts from nothing, so an interrupted one is not counted twice.
        entry->ResetSubTasks();
    }
    task.SetState(target);
    tasks->UpdateTask(task);

    switch (m_state) {
    case kDelete:
        DeleteTask(*tasks, *entry, m_taskId);
        break;
    case kStatePaused:
    case kStateStop:
        StopTaskWorkers(m_taskId);
        break;
    case kStateCompleted:
        PurgeTask(m_taskId);
        break;
    case kStateWaiting:
        if (target == kStateCompleted) {
            PurgeTask(m_taskId);
        } else {
            ChangeSubTasks(*entry, kStateWorking | kStateError,
                           [](CSubTaskInfo& sub) { sub.state = kStateWaiting; });
        }
        break;
    default:
        break;
    }
}
