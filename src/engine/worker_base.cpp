#include "engine/worker_base.h"

#include "engine/engine_log.h"
#include "engine/parvex_thread.h"
#include "log/debug_trace.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

// Lock order: the live-set lock, then a worker's state lock, then the finished-set lock. No
// code holds a later one while it takes an earlier one, and nothing waits for a thread while it
// holds the live-set lock (workers construct workers on their own threads).
struct CWorkerBase::ThreadState {
    std::mutex mutex;
    std::condition_variable ended;
    std::thread thread;
    // From a successful Start until DoWork has returned.
    bool running = false;
};

namespace {

struct WorkerBook {
    std::mutex liveMutex;
    std::unordered_set<CWorkerBase*> live;
    std::mutex finishedMutex;
    std::vector<CWorkerBase*> finished;
};

// Created by the first worker and never destroyed: workers left running may outlive statics.
WorkerBook& Book() {
    static auto* book = new WorkerBook;
    return *book;
}

std::atomic<std::int64_t> g_terminateTimeoutMs{3000};

} // namespace

CWorkerBase::CWorkerBase() : m_state(std::make_shared<ThreadState>()) {
    WorkerBook& book = Book();
    std::lock_guard lock(book.liveMutex);
    book.live.insert(this);
}

CWorkerBase::~CWorkerBase() {
    std::thread ended;
    {
        std::unique_lock lock(m_state->mutex);
        const auto done = [this] { return !m_state->running; };
        if (!m_state->ended.wait_for(lock, TerminateTimeout(), done)) {
            DebugTrace("worker destroyed while DoWork still runs; waiting for it to return\n");
            m_state->ended.wait(lock, done);
        }
        ended = std::move(m_state->thread);
    }
    JoinEndedThread(ended);
    WorkerBook& book = Book();
    std::lock_guard lock(book.liveMutex);
    book.live.erase(this);
}

void CWorkerBase::SetTerminateTimeout(std::chrono::milliseconds timeout) {
    g_terminateTimeoutMs = timeout.count();
}

std::chrono::milliseconds CWorkerBase::TerminateTimeout() {
    return std::chrono::milliseconds(g_terminateTimeoutMs.load());
}

bool CWorkerBase::Start() {
    std::lock_guard lock(m_state->mutex);
    if (m_state->running || m_state->thread.joinable()) {
        return false;
    }
    m_state->running = true;
    try {
        m_state->thread = std::thread([this] { ThreadBody(); });
    } catch (const std::system_error& error) {
        m_state->running = false;
        DebugTrace("worker thread could not be created, error code: %d\n", error.code().value());
        return false;
    }
    return true;
}

void CWorkerBase::ThreadBody() {
    try {
        DoWork();
    } catch (...) {
        LogEscapedException("CWorkerBase::DoWork");
        try {
            OnDoWorkFailed();
        } catch (...) {
            LogEscapedException("CWorkerBase::OnDoWorkFailed");
        }
    }
    const bool autoDelete = m_autoDelete;
    std::lock_guard stateLock(m_state->mutex);
    // Both steps under the state lock: TerminateAllWorkers, which calls RequestStop on running
    // workers, then never sees a worker that a reaper may already be deleting.
    m_state->running = false;
    m_state->ended.notify_all();
    if (autoDelete) {
        WorkerBook& book = Book();
        std::lock_guard finishedLock(book.finishedMutex);
        book.finished.push_back(this);
    }
    // The reaper's destructor takes the state lock before it frees the worker, so releasing it
    // here is the body's last use of `this`.
}

bool CWorkerBase::IsRunning() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->running;
}

bool CWorkerBase::StopAndWait(std::chrono::milliseconds timeout) {
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->running && !m_state->thread.joinable()) {
            return true;
        }
    }
    RequestStop();
    std::thread ended;
    {
        std::unique_lock lock(m_state->mutex);
        if (!m_state->ended.wait_for(lock, timeout, [this] { return !m_state->running; })) {
            return false;
        }
        ended = std::move(m_state->thread);
    }
    JoinEndedThread(ended);
    return true;
}

void CWorkerBase::Terminate() {
    if (!StopAndWait(TerminateTimeout())) {
        DebugTrace("worker did not stop within %lld ms; it is left running\n",
                   static_cast<long long>(TerminateTimeout().count()));
    }
}

void CWorkerBase::SetAutoDelete(bool autoDelete) {
    m_autoDelete = autoDelete;
}

void CWorkerBase::StopForDestruction() {
    if (StopAndWait(TerminateTimeout())) {
        return;
    }
    DebugTrace("worker destroyed while DoWork ignores the stop request; waiting for it\n");
    std::thread ended;
    {
        std::unique_lock lock(m_state->mutex);
        m_state->ended.wait(lock, [this] { return !m_state->running; });
        ended = std::move(m_state->thread);
    }
    JoinEndedThread(ended);
}

void ReapFinishedWorkers() {
    std::vector<CWorkerBase*> finished;
    {
        WorkerBook& book = Book();
        std::lock_guard lock(book.finishedMutex);
        finished.swap(book.finished);
    }
    // Deleted outside the finished-set lock: destructors take the live-set lock.
    for (CWorkerBase* worker : finished) {
        delete worker;
    }
}

std::size_t TerminateAllWorkers() {
    std::vector<std::shared_ptr<CWorkerBase::ThreadState>> stopping;
    {
        WorkerBook& book = Book();
        std::lock_guard liveLock(book.liveMutex);
        for (CWorkerBase* worker : book.live) {
            std::lock_guard stateLock(worker->m_state->mutex);
            // A worker that is not running is either not started (its creator owns it) or
            // finished (a reaper may be deleting it): leave it alone.
            if (worker->m_state->running) {
                worker->RequestStop();
                stopping.push_back(worker->m_state);
            }
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + CWorkerBase::TerminateTimeout();
    std::size_t stillRunning = 0;
    for (const auto& state : stopping) {
        std::unique_lock lock(state->mutex);
        if (!state->ended.wait_until(lock, deadline, [&state] { return !state->running; })) {
            ++stillRunning;
        }
    }
    if (stillRunning > 0) {
        DebugTrace("%zu workers did not stop within %lld ms; they are left running\n", stillRunning,
                   static_cast<long long>(CWorkerBase::TerminateTimeout().count()));
    }
    return stillRunning;
}

std::size_t LiveWorkerCount() {
    WorkerBook& book = Book();
    std::lock_guard lock(book.liveMutex);
    return book.live.size();
}

std::size_t FinishedWorkerCount() {
    WorkerBook& book = Book();
    std::lock_guard lock(book.finishedMutex);
    return book.finished.size();
}
