#include "pipeline/pipeline_workers.h"

#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/engine_log.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "pipeline/download_part_worker.h"
#include "pipeline/prepare_task_worker.h"
#include "pipeline/task_file.h"
#include "pipeline/tovu_file.h"

bool CPipelineWorkers::StartPrepare(const CTaskInfo& task) {
    return CPrepareTaskWorker::StartPrepare(task);
}

bool CPipelineWorkers::IsPreparing(const std::string& taskId) const {
    return CPrepareTaskWorker::IsPreparing(taskId);
}

void CPipelineWorkers::StopPrepare(const std::string& taskId) {
    CPrepareTaskWorker::StopPrepare(taskId);
}

void CPipelineWorkers::StartPartWorker(const RangeRequest& range) {
    auto* worker = new CDownloadPartWorker(range);
    if (worker->Start()) {
        return;
    }
    delete worker;
    EngineLogF(kEngineLogError, "StartPartWorker: no thread for task:%s, subTask:%s",
               range.taskId.c_str(), MaskSecrets(range.subTaskPath).c_str());
    QueueNew<CChangerSubTaskError>(range.taskId, range.subTaskPath, platform_error::kGeneralFailure,
                                   std::string());
}

std::size_t CPipelineWorkers::CountPartWorkers(const std::string& taskId) const {
    return CDownloadPartWorker::CountPartWorkers(taskId);
}

void CPipelineWorkers::StopPartWorkers(const std::string& taskId) {
    CDownloadPartWorker::StopPartWorkers(taskId);
}

IRangeWorker* CPipelineWorkers::FindLargestRange() {
    return CDownloadPartWorker::FindLargestRange();
}

std::size_t CPipelineWorkers::CountSubTaskWorkers(const std::string& taskId,
                                                  const std::string& subTaskPath) const {
    return CDownloadPartWorker::CountSubTaskWorkers(taskId, subTaskPath);
}

void CPipelineWorkers::StopSubTaskWorkers(const std::string& taskId,
                                          const std::string& subTaskPath) {
    CDownloadPartWorker::StopSubTaskWorkers(taskId, subTaskPath);
}

void CPipelineWorkers::DeleteTempFile(const CSubTaskInfo& sub) {
    CTaskFile::DeleteTempFile(sub);
}

int CPipelineWorkers::FinishDownload(const CSubTaskInfo& sub) {
    CTaskFile file;
    if (!file.Attach(sub.task_id, sub.sub_task_path, TaskFileUse::kFinish)) {
        return file.InitError() != 0 ? file.InitError() : platform_error::kFileNotFound;
    }
    if (!file.FinishRename()) {
        const int code = MapErrno(LastFileError());
        return code != 0 ? code : platform_error::kGeneralFailure;
    }
    return 0;
}

void InstallPipelineWorkers() {
    // Never destroyed: workers may still use it while the process ends.
    static auto* pipeline = new CPipelineWorkers;
    if (!HasTransferWorkers()) {
        SetTransferWorkers(pipeline);
    }
}
