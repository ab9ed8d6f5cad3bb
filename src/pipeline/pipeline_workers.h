#pragma once

#include "engine/transfer_workers.h"

// The download pipeline as the engine core drives it: task preparation, part-download workers
// and the temporary files they write.
class CPipelineWorkers final : public ITransferWorkers {
public:
    bool StartPrepare(const CTaskInfo& task) override;
    bool IsPreparing(const std::string& taskId) const override;
    void StopPrepare(const std::string& taskId) override;
    void StartPartWorker(const RangeRequest& range) override;
    std::size_t CountPartWorkers(const std::string& taskId) const override;
    void StopPartWorkers(const std::string& taskId) override;
    IRangeWorker* FindLargestRange() override;
    std::size_t CountSubTaskWorkers(const std::string& taskId,
                                    const std::string& subTaskPath) const override;
    void StopSubTaskWorkers(const std::string& taskId, const std::string& subTaskPath) override;
    void DeleteTempFile(const CSubTaskInfo& sub) override;
    int FinishDownload(const CSubTaskInfo& sub) override;
};

// Installs the pipeline as the engine's transfer workers unless others (a test's) are installed.
void InstallPipelineWorkers();
