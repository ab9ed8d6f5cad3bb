#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>

class CWorkerBase;

// Deletes every auto-delete worker whose job has returned. The dispatcher calls it once per
// pass; the engine's shut-down calls it after TerminateAllWorkers.
void ReapFinishedWorkers();
// Asks every running worker to stop and waits for them, all within one
// CWorkerBase::TerminateTimeout(). Returns how many are still running after that: those are
// left alive (never deleted by the engine) and traced. The stopped auto-delete workers wait in
// the finished set for the caller's ReapFinishedWorkers.
std::size_t TerminateAllWorkers();
// Workers constructed and not yet destroyed.
std::size_t LiveWorkerCount();
// Auto-delete workers whose job returned, waiting for ReapFinishedWorkers.
std::size_t FinishedWorkerCount();

// An engine worker: one platform thread that runs DoWork once. It is created with new and
// started with Start; its creator never joins it. An auto-delete worker (the default) files
// itself into the finished set when DoWork returns and is deleted by the next
// ReapFinishedWorkers; with auto-delete off, the owner destroys it. Do not touch an auto-delete
// worker once its job may have returned, except through a worker registry.
//
// Threads are never killed. Terminate, TerminateAllWorkers and the destructors ask DoWork to
// return (RequestStop) and wait up to TerminateTimeout(); a worker that overruns it is left
// running and is never deleted while its thread runs.
//
// Rules for derived classes:
// - RequestStop only sets a flag and wakes DoWork; it takes none of these frameworks' locks
//   (it is called under the live-set lock and under a registry's lock).
// - A class whose DoWork uses its own members calls StopForDestruction() first thing in its
//   destructor (and leaves its registry after that): the base destructor cannot call
//   RequestStop, and the derived members are gone by the time it runs.
// - Start is called on a fully constructed worker, never from a constructor.
class CWorkerBase {
public:
    CWorkerBase();
    virtual ~CWorkerBase();
    CWorkerBase(const CWorkerBase&) = delete;
    CWorkerBase& operator=(const CWorkerBase&) = delete;

    // Starts a thread running DoWork unless the worker has one (running, or ended and not yet
    // joined). False when no thread was started; after a failed thread creation the worker
    // never runs and is not reaped: its creator still owns it.
    virtual bool Start();
    // From a successful Start until DoWork has returned.
    virtual bool IsRunning() const;
    // No thread: true. Otherwise RequestStop and a wait up to `timeout`; true when DoWork has
    // returned (the thread is then joined), false on time-out.
    virtual bool StopAndWait(std::chrono::milliseconds timeout);
    // StopAndWait with TerminateTimeout(); a worker that overruns it is left running.
    virtual void Terminate();
    virtual void SetAutoDelete(bool autoDelete);
    // Asks DoWork to return soon.
    virtual void RequestStop() = 0;

    // Bound of Terminate, TerminateAllWorkers and the destructors' waits; tests shorten it.
    static void SetTerminateTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds TerminateTimeout();

protected:
    // The job.
    virtual void DoWork() = 0;

    // Stops and joins the thread; never returns while DoWork still runs.
    void StopForDestruction();
    // DoWork ended by an exception (logged already; memory running out included): the worker
    // fails its task instead of ending the process. On the worker's thread.
    virtual void OnDoWorkFailed() {}

private:
    struct ThreadState;
    friend std::size_t TerminateAllWorkers();

    void ThreadBody();

    // Shared with TerminateAllWorkers, which waits on it without keeping the worker alive.
    const std::shared_ptr<ThreadState> m_state;
    std::atomic<bool> m_autoDelete{true};
};
