#pragma once

#include "engine/parvex_thread.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>

// Writes staged sub-task records of the tasks asked for on a thread of its own, so the
// dispatcher never waits for the store. Requests that arrive while a write runs are gathered
// into the next one. The thread starts with the first request. A task's store may keep its
// connection between writes: once no request has come for a second, and when finishing, the
// flusher lets go of the connections of every task it wrote (`release`).
class CStoreFlusher : public CParvexThread {
public:
    using FlushTask = std::function<void(const std::string& taskId)>;

    CStoreFlusher(FlushTask flush, FlushTask release);
    ~CStoreFlusher() override;

    void Request(const std::string& taskId);
    // Writes what is asked for on the calling thread and stops the thread.
    void Finish();

protected:
    void Run(std::int32_t param) override;

private:
    bool TakePending(std::set<std::string>& out);

    void ReleaseAll();

    FlushTask m_flush;
    FlushTask m_release;
    std::set<std::string> m_written; // tasks written since their connections were let go
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::set<std::string> m_pending;
    bool m_finishing = false;
};
