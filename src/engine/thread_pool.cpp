#include "engine/thread_pool.h"

#include "log/debug_trace.h"

#include <utility>

CThreadPool::CThreadPool(std::chrono::milliseconds passInterval) : m_passInterval(passInterval) {}

CThreadPool::~CThreadPool() {
    // Run uses m_threads: it has to end before the members go.
    StopForDestruction();
    Clear();
}

void CThreadPool::Add(std::unique_ptr<CParvexThread> thread) {
    if (!thread || thread.get() == this) {
        return;
    }
    std::lock_guard lock(m_threadsMutex);
    m_threads.push_back(std::move(thread));
}

void CThreadPool::Clear() {
    Threads held;
    {
        std::lock_guard lock(m_threadsMutex);
        held.swap(m_threads);
    }
    StopAndDelete(std::move(held));
}

void CThreadPool::RequestStopAll() {
    std::lock_guard lock(m_threadsMutex);
    for (const std::unique_ptr<CParvexThread>& thread : m_threads) {
        thread->SetStop(true);
    }
}

std::size_t CThreadPool::Count() const {
    std::lock_guard lock(m_threadsMutex);
    return m_threads.size();
}

void CThreadPool::Run(std::int32_t /*param*/) {
    while (!IsStopRequested()) {
        ForgetFinished();
        WaitForStop(m_passInterval);
    }
}

void CThreadPool::ForgetFinished() {
    Threads finished;
    {
        std::lock_guard lock(m_threadsMutex);
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if ((*it)->IsFinished()) {
                finished.push_back(std::move(*it));
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Deleted outside the lock: a destructor joins its (already ended) thread.
    finished.clear();
}

void CThreadPool::StopAndDelete(Threads threads) {
    for (std::unique_ptr<CParvexThread>& thread : threads) {
        thread->Terminate();
        if (thread->IsRunning()) {
            DebugTrace("thread pool: a thread ignored the stop request; it is left alive\n");
            CParvexThread::KeepAliveForever(std::move(thread));
        }
    }
}
