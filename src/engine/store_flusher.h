#pragma once

#include "engine/parvex_thread.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>

// Writes staged sub-task records of the tasks asked for on a thread of its own, so the
// dispatcher never waits for the store. Requests that arrive while a write runs are gathered
// into the next one. The thread starts with the first request.
class CStoreFlusher : public CParvexThread {
public:
    using FlushTask = std::function<void(const std::string& taskId)>;

    explicit CStoreFlusher(FlushTask flush);
    ~CStoreFlusher() override;

    void Request(const std::string& taskId);
    // Writes what is asked for on the calling thread and stops the thread.
    void Finish();

protected:
    void Run(std::int32_t param) override;

private:
    bool TakePending(std::set<std::string>& out);

    FlushTask m_flush;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::set<std::string> m_pending;
    bool m_finishing = false;
};
