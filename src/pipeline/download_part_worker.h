#pragma once

#include "engine/box_file_info.h"
#include "engine/transfer_workers.h"
#include "engine/worker_base.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CTaskFile;
struct DownloadRequest;

// Downloads one byte range of a file with one ranged request: reads it part by part, writes
// each whole part at its offset into the sub-task's temporary file and reports the parts as
// received once they are on the disk. A worker whose stream fails hands the rest of its range to
// a fresh copy of itself (at most three times) before the sub-task fails; a stopped worker ends
// quietly. Workers are listed process-wide while they run, for counting, stopping and splitting.
//
// Every request carries the file's validator as If-Range once one is known (from the sub-task
// or from the first reply), and the worker's reports name it, so parts of a file that changed
// on the service meanwhile are never recorded. A reply that says the file changed restarts the
// sub-task (CChangerSubTaskRestart) instead of failing it. A token the service no longer accepts
// (20003) is renewed once (token_renewal.h) and the range handed to a copy that carries the new
// one; a refusal of that copy's request fails the sub-task.
class CDownloadPartWorker final : public CWorkerBase, public IRangeWorker {
public:
    static constexpr int kRetries = 3;

    explicit CDownloadPartWorker(const RangeRequest& range);
    ~CDownloadPartWorker() override;

    const std::string& TaskId() const { return m_taskId; }
    void RequestStop() override;

    std::uint64_t CurrentOffset() const override { return m_current.load(); }
    std::uint64_t EndOffset() const override { return m_end.load(); }
    std::uint32_t PartSize() const override { return m_partSize; }
    bool SplitAt(std::uint64_t split) override;

    // Live workers of the task, or all of them for an empty id.
    static std::size_t CountPartWorkers(const std::string& taskId);
    static void StopPartWorkers(const std::string& taskId);
    static std::size_t CountSubTaskWorkers(const std::string& taskId,
                                           const std::string& subTaskPath);
    static void StopSubTaskWorkers(const std::string& taskId, const std::string& subTaskPath);
    // The live, not stopped worker still in its range with the most left to fetch.
    static IRangeWorker* FindLargestRange();

protected:
    void DoWork() override;
    void OnDoWorkFailed() override;

private:
    // A copy that takes over [start, end) of `other`, with `retriesLeft` retries; with `token`,
    // its requests carry that access token.
    CDownloadPartWorker(const CDownloadPartWorker& other, std::uint64_t start, std::uint64_t end,
                        int retriesLeft, const std::string* token = nullptr);

    struct Failure {
        int code = 0;
        std::string message;
        bool noRetry = false;
        bool reported = false; // already handed on elsewhere
    };

    void DownloadEmptyFile();
    bool DownloadRange(Failure& failure);
    // Takes the validator of a reply to a request that carried none, telling the sub-task
    // first, so that the reports of copies that send it come after.
    void AdoptReplyValidator(const DownloadRequest& request);
    std::string Validator() const;
    // Hands on the parts written so far once they are on the disk: when `force`, or when the
    // file's sync is due. False when the sync failed (the parts stay unreported).
    bool ReportWritten(CTaskFile& file, bool force, Failure& failure);
    // Ends the loop when the range is done, stopped or failed; after it SplitAt refuses.
    bool LeaveIfDone(bool failed);
    void HandleFailure(Failure failure);
    // A refused token renewed for the copy that takes over; false (with `failure` set) when it
    // could not be.
    bool RenewToken(Failure& failure);
    void StartRetryCopy(int code, const std::string* token = nullptr);
    void Register();

    const std::string m_taskId;
    const std::string m_subTaskPath;
    const BoxFileInfo m_boxFile;
    const std::uint32_t m_partSize;
    std::uint64_t m_start;
    std::atomic<std::uint64_t> m_end;
    std::atomic<std::uint64_t> m_current;
    const int m_number;
    std::atomic<bool> m_stop{false};
    int m_retriesLeft = kRetries;
    // The worker carries a token renewed for a refusal and no reply has accepted it yet: a
    // second refusal fails the sub-task instead of renewing again. Copies take it.
    std::atomic<bool> m_tokenRenewed{false};

    // Guards the range end against a split while the worker decides to leave. A worker is
    // offered for splitting only from the start of its job: one whose thread never started is
    // deleted at once and must not be seen.
    mutable std::mutex m_splitMutex;
    bool m_leaving = true;
    // The file's validator, sent as If-Range; copies take it. Written under the split lock.
    std::string m_validator;

    // Parts written and not yet reported, and the file's write sequence after the last one.
    // Parts written and not yet reported, oldest first, each with its write's sequence: a part
    // is reported once a sync has covered it.
    struct UnreportedPart {
        std::size_t bit = 0;
        std::uint64_t sequence = 0;
    };
    std::vector<UnreportedPart> m_unreported;
};
