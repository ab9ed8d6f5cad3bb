#pragma once

#include "engine/action_record.h"
#include "engine/worker_base.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
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
    // The next record to send; nullopt once a stop was asked for.
    std::optional<ActionRecord> Take();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<ActionRecord> m_queue;
    bool m_closed = false; // DoWork has returned: records are dropped
    std::atomic<bool> m_stop{false};
};

// Queue a report on the engine's statistics worker; without one they do nothing.
void ReportSuccess(std::int32_t kind, const std::string& path, std::int64_t size,
                   std::int32_t speed);
void ReportFailure(std::int32_t kind, const std::string& path, std::int32_t errorState,
                   const std::string& errorCode);
