#pragma once

#include "engine/box_file_info.h"
#include "engine/task_info.h"

#include <cstddef>
#include <cstdint>
#include <string>

// One byte range of a file waiting for a part-download worker. The end is exclusive.
struct RangeRequest {
    std::string taskId; // empty once the task was purged: the launcher drops the request
    std::string subTaskPath;
    std::uint32_t partSize = 0;
    BoxFileInfo boxFile;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::string validator; // the sub-task's file validator, sent as If-Range; empty: none yet
};

// A running part-download worker as the dispatcher sees it when it splits ranges. Valid until
// the dispatcher's next ReapFinishedWorkers.
//
// A worker that has left its part loop (it finished, failed, handed its rest to a retry copy or
// was stopped) is never offered for splitting, and SplitAt refuses once it has: the worker marks
// its leaving under the lock that SplitAt takes. A copy is built and registered outside the
// registry's lock.
class IRangeWorker {
public:
    virtual ~IRangeWorker() = default;
    virtual std::uint64_t CurrentOffset() const = 0;
    virtual std::uint64_t EndOffset() const = 0;
    virtual std::uint32_t PartSize() const = 0;
    // Ends this worker's range at `split` and starts a copy of it for [split, old end). False,
    // and nothing changes, when the worker has reached `split` meanwhile or is stopping.
    virtual bool SplitAt(std::uint64_t split) = 0;
};

// The workers that move data, as the engine core starts, counts and stops them: the
// preparation of tasks, the part downloads and the temporary files they write. The download
// pipeline provides them; the engine core only goes through this interface.
class ITransferWorkers {
public:
    virtual ~ITransferWorkers() = default;

    // Starts a preparation worker for the task. The record is a snapshot taken before the task
    // entered Preparing: the worker never writes it back whole (it would put back an old state
    // and old fields); what it learns about the item goes through CChangerTaskBoxFile. False
    // when no worker was started (its thread could not be created).
    virtual bool StartPrepare(const CTaskInfo& task) = 0;
    // A preparation worker of the task is still registered (running or stopping).
    virtual bool IsPreparing(const std::string& taskId) const = 0;
    virtual void StopPrepare(const std::string& taskId) = 0;

    // Creates and starts a part-download worker for the range.
    virtual void StartPartWorker(const RangeRequest& range) = 0;
    // Live part-download workers of the task; all of them for an empty id.
    virtual std::size_t CountPartWorkers(const std::string& taskId) const = 0;
    // Sets the stop flags of the task's workers. A stopped worker, or one whose transfer was
    // cancelled (1223), never starts a retry copy.
    virtual void StopPartWorkers(const std::string& taskId) = 0;
    // The live worker whose stop flag is clear and whose remaining length (end - current) is
    // largest, the first one on equal lengths; null when there is none.
    virtual IRangeWorker* FindLargestRange() = 0;
    // Live part-download workers of one sub-task.
    virtual std::size_t CountSubTaskWorkers(const std::string& taskId,
                                            const std::string& subTaskPath) const = 0;
    // Sets the stop flags of one sub-task's workers (its file changed on the service).
    virtual void StopSubTaskWorkers(const std::string& taskId, const std::string& subTaskPath) = 0;

    // Removes a sub-task's temporary file (later, when a worker still writes it).
    virtual void DeleteTempFile(const CSubTaskInfo& sub) = 0;
    // Gives a finished download its final name. 0, or the platform error code.
    virtual int FinishDownload(const CSubTaskInfo& sub) = 0;
};

// The workers the engine uses. Until some are installed, a set that starts nothing.
ITransferWorkers& TransferWorkers();
// Whether workers other than the set that starts nothing are installed.
bool HasTransferWorkers();
// Installs the workers (nullptr: back to the set that starts nothing). The object must outlive
// the engine.
void SetTransferWorkers(ITransferWorkers* workers);
