#include "engine/change_queue.h"

#include "engine/dispatch_task_worker.h"
#include "engine/engine_context.h"
#include "engine/transfer_workers.h"
#include "net/http_client.h"

void QueueChange(std::unique_ptr<CTaskInfoChangerBase> changer) {
    if (CDispatchTaskWorker* dispatcher = GetEngineContext().dispatcher.load()) {
        dispatcher->QueueChange(std::move(changer));
    }
}

CTaskMgr* EngineTasks() {
    return GetEngineContext().taskMgr.load();
}

void PurgeTask(const std::string& taskId) {
    if (CDispatchTaskWorker* dispatcher = GetEngineContext().dispatcher.load()) {
        dispatcher->PurgeTask(taskId);
    }
}

std::size_t RestartSubTaskRanges(const std::string& taskId, const std::string& path) {
    if (CDispatchTaskWorker* dispatcher = GetEngineContext().dispatcher.load()) {
        return dispatcher->RestartSubTask(taskId, path);
    }
    return 0;
}

void StopTaskWorkers(const std::string& taskId) {
    PurgeTask(taskId);
    ITransferWorkers& workers = TransferWorkers();
    workers.StopPrepare(taskId);
    // The upload and synchronisation workers would be stopped here; this program has none.
    // The stop flags are set before the transfers are cancelled, so no worker takes its
    // cancelled read for a failure and starts a retry copy.
    workers.StopPartWorkers(taskId);
    CHttpClient::CancelByKey(taskId);
}
