#pragma once

#include "engine/parvex_thread.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Keeps the front end's thread objects and gets rid of them once they have finished. The pool
// is itself a thread: started with Start(0), its Run makes a pass every `passInterval` (a wait
// that a stop request cuts short, so StopAndWait stops the pool promptly).
//
// The pool owns what is added: a pass deletes every thread whose IsFinished is true. Clear and
// the pool's destructor stop (Terminate) and delete the threads still held; one that overruns
// the stop bound is left running and never deleted (its object must outlive its thread).
// Add a thread before starting it, and do not touch it once it may have finished: the next
// pass may already have deleted it.
class CThreadPool : public CParvexThread {
public:
    explicit CThreadPool(std::chrono::milliseconds passInterval = std::chrono::seconds(1));
    ~CThreadPool() override;

    // Takes ownership; null and the pool itself are ignored.
    void Add(std::unique_ptr<CParvexThread> thread);
    // Stops and deletes every thread held.
    void Clear();
    // Asks every thread held to stop, without waiting: shutdown asks before it cancels the
    // transfers those threads may be waiting in.
    void RequestStopAll();
    // Threads held (not yet found finished).
    std::size_t Count() const;

protected:
    void Run(std::int32_t param) override;

private:
    using Threads = std::vector<std::unique_ptr<CParvexThread>>;

    void ForgetFinished();
    static void StopAndDelete(Threads threads);

    const std::chrono::milliseconds m_passInterval;
    mutable std::mutex m_threadsMutex;
    Threads m_threads;
};
