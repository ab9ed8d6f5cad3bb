#pragma once

#include "engine/task_info.h"
#include "engine/worker_base.h"
#include "net/service_records.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Asks the service what a new download task's item is now (size, address, revision, the files
// inside a folder) and hands the sub-tasks it finds on in groups of 10; a failure becomes the
// task's error. One worker per task, on its own thread, registered process-wide while it runs.
// A link page refused for an access token no longer valid is asked again once with a renewed
// token (token_renewal.h), which the later pages carry too.
class CPrepareTaskWorker final : public CWorkerBase {
public:
    static constexpr std::size_t kEntriesPerChange = 10;
    static constexpr std::size_t kLinkPageSize = 100;
    static constexpr int kRevisionLimit = 1000;

    // False only when the worker's thread could not be started. Nothing is started for an
    // empty id or a task already being prepared.
    static bool StartPrepare(const CTaskInfo& task);
    static void StopPrepare(const std::string& taskId);
    static bool IsPreparing(const std::string& taskId);

    ~CPrepareTaskWorker() override;
    void RequestStop() override;

protected:
    void OnDoWorkFailed() override;
    void DoWork() override;

private:
    explicit CPrepareTaskWorker(const CTaskInfo& task);

    void PrepareFile();
    void PrepareFolder();
    // Link files counted by the service: false when the preparation ended.
    bool CheckRemainingCount();
    // One listing page of a link folder, resolved; 0 or the failure's code.
    int FetchLinkPage(const std::string& url, std::int64_t offset, DeliveryListing& page);
    int FetchLinkPageOnce(const std::string& url, std::int64_t offset, DeliveryListing& page);
    // The address with the renewed token, once there is one.
    std::string WithRenewedToken(const std::string& url) const;
    bool WalkLinkFolder();
    bool WalkStorageFolder();
    // Queues an entry; the change is handed on at 10 entries or with `last`. An empty path adds
    // nothing. Nothing is handed on once the worker was stopped.
    void AddSubTaskEntry(bool last, const std::string& path, std::int64_t size, bool isFolder,
                         const std::string& revision);
    void Fail(int code, std::string message);
    // A folder walk that repeats itself or has no end.
    void FailEndless();
    // A folder walk's failure: a refusal reads "No download permissions".
    void FailWalk(int code, std::string message);
    bool Stopped() const { return m_stop.load(); }

    const CTaskInfo m_task;
    std::atomic<bool> m_stop{false};
    std::vector<SubTaskSummary> m_pending;
    std::optional<std::string> m_renewedToken;
};
