#include "engine/parvex_thread.h"

#include "engine/engine_log.h"
#include "log/debug_trace.h"

#include <system_error>
#include <vector>

namespace {

std::atomic<std::int64_t> g_terminateTimeoutMs{3000};

} // namespace

void JoinEndedThread(std::thread& thread) {
    if (!thread.joinable()) {
        return;
    }
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}

CParvexThread::~CParvexThread() {
    StopForDestruction();
}

void CParvexThread::SetTerminateTimeout(std::chrono::milliseconds timeout) {
    g_terminateTimeoutMs = timeout.count();
}

std::chrono::milliseconds CParvexThread::TerminateTimeout() {
    return std::chrono::milliseconds(g_terminateTimeoutMs.load());
}

void CParvexThread::KeepAliveForever(std::unique_ptr<CParvexThread> thread) {
    static std::mutex keptMutex;
    static auto* kept = new std::vector<CParvexThread*>;
    {
        std::lock_guard lock(thread->m_mutex);
        if (thread->m_thread.joinable()) {
            thread->m_thread.detach();
        }
    }
    std::lock_guard lock(keptMutex);
    kept->push_back(thread.release());
}

bool CParvexThread::Start(std::int32_t param) {
    std::lock_guard lock(m_mutex);
    if (m_running) {
        return false;
    }
    // A previous run has ended: its body is past its last use of the lock, so this is quick.
    JoinEndedThread(m_thread);
    m_param = param;
    m_stopRequested = false;
    m_finished = false;
    m_running = true;
    try {
        m_thread = std::thread(&CParvexThread::ThreadBody, this, param);
    } catch (const std::system_error& error) {
        m_running = false;
        DebugTrace("==========Create Thread Error!!!! error code: %d\n", error.code().value());
        return false;
    }
    return true;
}

void CParvexThread::ThreadBody(std::int32_t param) {
    try {
        Run(param);
    } catch (...) {
        LogEscapedException("CParvexThread::Run");
    }
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_finished = true;
    m_changed.notify_all();
}

void CParvexThread::Pause() {
    std::lock_guard lock(m_mutex);
    if (m_running) {
        m_paused = true;
    }
}

void CParvexThread::Resume() {
    std::lock_guard lock(m_mutex);
    if (m_running) {
        m_paused = false;
        m_changed.notify_all();
    }
}

bool CParvexThread::IsPaused() const {
    std::lock_guard lock(m_mutex);
    return m_running && m_paused;
}

bool CParvexThread::WaitWhilePaused() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_paused; });
    return true;
}

bool CParvexThread::IsFinished() const {
    return m_finished;
}

bool CParvexThread::IsRunning() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

void CParvexThread::SetStop(bool stop) {
    std::lock_guard lock(m_mutex);
    m_stopRequested = stop;
    m_changed.notify_all();
}

bool CParvexThread::IsStopRequested() const {
    return m_stopRequested;
}

bool CParvexThread::StopAndWait(std::chrono::milliseconds timeout) {
    return StopAndJoin(timeout);
}

void CParvexThread::Terminate() {
    if (!StopAndJoin(TerminateTimeout())) {
        DebugTrace("thread did not stop within %lld ms; it is left running\n",
                   static_cast<long long>(TerminateTimeout().count()));
    }
}

bool CParvexThread::WaitForStop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_stopRequested.load(); });
}

void CParvexThread::StopForDestruction() {
    if (StopAndJoin(TerminateTimeout())) {
        return;
    }
    DebugTrace("thread object destroyed while Run ignores the stop request; waiting for it\n");
    std::thread ended;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_running; });
        ended = std::move(m_thread);
    }
    JoinEndedThread(ended);
}

bool CParvexThread::StopAndJoin(std::chrono::milliseconds timeout) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_running && !m_thread.joinable()) {
            return true;
        }
    }
    // Virtual on purpose: a derived class may wake waits of its own. A paused Run must get past
    // WaitWhilePaused to see the request.
    SetStop(true);
    if (IsPaused()) {
        Resume();
    }
    std::thread ended;
    {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return !m_running; })) {
            return false;
        }
        ended = std::move(m_thread);
    }
    JoinEndedThread(ended);
    return true;
}
