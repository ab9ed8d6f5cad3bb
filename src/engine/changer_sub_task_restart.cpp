#include "engine/changer_sub_task_restart.h"

#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/message_texts.h"
#include "engine/secret_mask.h"
#include "engine/task_entry.h"
#include "engine/task_mgr.h"
#include "engine/transfer_workers.h"

void CChangerSubTaskRestart::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    CSubTaskInfo sub;
    if (entry == nullptr || !entry->GetSubTask(m_subTaskPath, sub) ||
        sub.state == kStateCompleted || sub.validator != m_oldValidator) {
        return;
    }
    TransferWorkers().StopSubTaskWorkers(m_taskId, m_subTaskPath);
    const std::size_t restarts = RestartSubTaskRanges(m_taskId, m_subTaskPath);
    EngineLogF(kEngineLogInfo,
               "SubTaskRestart: the file changed on the server, task:%s, subTask:%s, "
               "parts dropped:%zu, restart:%zu",
               m_taskId.c_str(), MaskSecrets(m_subTaskPath).c_str(), sub.trans_bitmap.CountSet(),
               restarts);
    // Whatever follows, the recorded parts are of a version the service no longer has.
    sub.trans_bitmap = PartBitmap();
    sub.hash_bitmap = PartBitmap();
    sub.validator = m_newValidator;
    const bool keepsChanging = restarts > kMaxRestarts;
    if (sub.state == kStateWorking && !keepsChanging) {
        sub.state = kStateWaiting;
    }
    entry->SetSubTaskBytes(m_subTaskPath, 0);
    entry->StoreSubTask(sub);
    tasks->UpdateTask(entry->Info());
    if (keepsChanging) {
        QueueNew<CChangerSubTaskError>(m_taskId, m_subTaskPath, engine_code::kFileChangedOnServer,
                                       std::string());
    }
}
