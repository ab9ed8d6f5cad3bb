#include "engine/transfer_workers.h"

#include <atomic>

namespace {

// Without a pipeline nothing is prepared or downloaded, and a finished file has nothing to
// rename.
class CNoTransferWorkers final : public ITransferWorkers {
public:
    bool StartPrepare(const CTaskInfo&) override { return true; }
    bool IsPreparing(const std::string&) const override { return false; }
    void StopPrepare(const std::string&) override {}
    void StartPartWorker(const RangeRequest&) override {}
    std::size_t CountPartWorkers(const std::string&) const override { return 0; }
    void StopPartWorkers(const std::string&) override {}
    IRangeWorker* FindLargestRange() override { return nullptr; }
    std::size_t CountSubTaskWorkers(const std::string&, const std::string&) const override {
        return 0;
    }
    void StopSubTaskWorkers(const std::string&, const std::string&) override {}
    void DeleteTempFile(const CSubTaskInfo&) override {}
    int FinishDownload(const CSubTaskInfo&) override { return 0; }
};

CNoTransferWorkers g_none;
std::atomic<ITransferWorkers*> g_installed{nullptr};

} // namespace

ITransferWorkers& TransferWorkers() {
    ITransferWorkers* installed = g_installed.load();
    return installed != nullptr ? *installed : g_none;
}

bool HasTransferWorkers() {
    return g_installed.load() != nullptr;
}

void SetTransferWorkers(ITransferWorkers* workers) {
    g_installed.store(workers);
}
