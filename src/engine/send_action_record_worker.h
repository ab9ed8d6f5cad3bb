#pragma once

#include "engine/action_record.h"
#include "engine/worker_base.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// Sends queued action records to the statistics endpoint, one GET each, without reading the
// answer. It exists only when the engine talks to the service's public installation.
class CSendActionRecordWorker final : public CWorkerBase {
public:
    CSendActionRecordWorker() = default;
    ~CSendActionRecordWorker() override;

    // Appends a record while the worker's thread runs; otherwise drops it.
    void Push(ActionRecord record);
    void RequestStop() override;

protected:
    void DoWork() override;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<ActionRecord> m_queue;
    std::atomic<bool> m_stop{false};
};

// Queue a report on the engine's statistics worker; without one they do nothing.
void ReportSuccess(std::int32_t kind, const std::string& path, std::int64_t size,
                   std::int32_t speed);
void ReportFailure(std::int32_t kind, const std::string& path, std::int32_t errorState,
                   const std::string& errorCode);
