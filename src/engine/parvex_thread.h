#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// Joins a thread whose work has ended. Called on that very thread, it detaches instead of
// joining, which would throw.
void JoinEndedThread(std::thread& thread);

// A front-end thread object: one platform thread at a time running Run(param), with a pause
// switch and a stop request that Run looks at on its own safe points.
//
// Threads are never killed. Terminate and the destructor ask Run to stop (stop request, plus a
// resume so a paused Run can see it) and wait up to TerminateTimeout() for it. Terminate gives
// up after that and leaves the thread running with its object alive; the destructor, which
// cannot leave its object alive, traces the overrun and then waits for Run without limit.
//
// A derived class whose Run touches the derived class's own members calls StopForDestruction()
// first thing in its destructor: by the time the base destructor runs, those members are gone.
class CParvexThread {
public:
    CParvexThread() = default;
    virtual ~CParvexThread();
    CParvexThread(const CParvexThread&) = delete;
    CParvexThread& operator=(const CParvexThread&) = delete;

    // Starts a thread running Run(param) unless one runs already; clears the stop request and
    // the finished flag. IsRunning() is true from a successful Start until Run has returned.
    virtual bool Start(std::int32_t param);
    // Pause and Resume only act while a thread exists. Pausing only blocks WaitWhilePaused.
    virtual void Pause();
    virtual void Resume();
    virtual bool IsPaused() const;
    // Blocks while paused; true once not paused.
    virtual bool WaitWhilePaused();
    virtual bool IsFinished() const;
    virtual bool IsRunning() const;
    virtual void SetStop(bool stop);
    virtual bool IsStopRequested() const;
    // No thread: true. Otherwise requests a stop (resuming a paused thread) and waits up to
    // `timeout`; true when the thread ended (it is then joined), false on time-out.
    virtual bool StopAndWait(std::chrono::milliseconds timeout);
    // StopAndWait with TerminateTimeout(); a thread that overruns it is left running.
    virtual void Terminate();

    // Bound of Terminate and of the destructor's wait before it traces; tests shorten it.
    static void SetTerminateTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds TerminateTimeout();

    // Gives up on a thread that overran its stop bound: detaches it and keeps the object alive,
    // and reachable, for the rest of the process, since Run still uses it.
    static void KeepAliveForever(std::unique_ptr<CParvexThread> thread);

protected:
    // The stop request as a flag an HTTP exchange of Run can watch, so a stop ends a request
    // in flight too.
    const std::atomic<bool>* StopFlag() const { return &m_stopRequested; }

    // The thread's work. It checks IsStopRequested and calls WaitWhilePaused where it is safe.
    virtual void Run(std::int32_t param) = 0;

    // An interruptible sleep for Run: waits up to `timeout`, returns early on a stop request.
    // Returns IsStopRequested().
    bool WaitForStop(std::chrono::milliseconds timeout);

    // Stops and joins the thread; never returns while it still runs (see the class comment).
    void StopForDestruction();

private:
    void ThreadBody(std::int32_t param);
    // Stop request + resume, then a bounded wait; joins the thread when it ended.
    bool StopAndJoin(std::chrono::milliseconds timeout);

    std::int32_t m_param = 0;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_finished{false};

    // Guards the pause switch, the running state and the thread object; m_changed signals a
    // resume, a stop request and the end of Run.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_paused = false;
    bool m_running = false;
    std::thread m_thread;
};
