#include "engine/parvex_thread.h"
#include "engine/thread_pool.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

// Run records its parameter, blocks at a gate the test opens (deaf to stop requests there),
// then passes WaitWhilePaused and either returns or waits for a stop request.
class CProbeThread final : public CParvexThread {
public:
    explicit CProbeThread(bool gateOpen, bool returnAtOnce = false,
                          std::atomic<int>* destroyed = nullptr)
        : m_returnAtOnce(returnAtOnce), m_destroyed(destroyed), m_gateOpen(gateOpen) {}

    ~CProbeThread() override {
        // Let a failed test end instead of hanging here.
        SetGate(true);
        Resume();
        StopForDestruction();
        if (m_destroyed != nullptr) {
            ++*m_destroyed;
        }
    }

    void SetGate(bool open) {
        {
            std::lock_guard lock(m_mutex);
            m_gateOpen = open;
        }
        m_gateChanged.notify_all();
    }

    std::atomic<int> runs{0};
    std::atomic<std::int32_t> param{-1};
    std::atomic<bool> atPause{false};
    // -1 until WaitWhilePaused has returned, then its result.
    std::atomic<int> pauseResult{-1};

protected:
    void Run(std::int32_t p) override {
        param = p;
        ++runs;
        {
            std::unique_lock lock(m_mutex);
            m_gateChanged.wait(lock, [this] { return m_gateOpen; });
        }
        atPause = true;
        pauseResult = WaitWhilePaused() ? 1 : 0;
        if (m_returnAtOnce) {
            return;
        }
        while (!WaitForStop(1h)) {
        }
    }

private:
    const bool m_returnAtOnce;
    std::atomic<int>* const m_destroyed;
    std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    bool m_gateOpen;
};

} // namespace

TEST(ParvexThread, StartWhileRunningReturnsFalseAndChangesNothing) {
    CProbeThread thread(/*gateOpen=*/false);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_TRUE(thread.StopAndWait(0ms)); // no thread yet

    ASSERT_TRUE(thread.Start(7));
    EXPECT_TRUE(thread.IsRunning()); // already true when Start returns
    ASSERT_TRUE(WaitUntil([&] { return thread.runs == 1; }));
    thread.SetStop(true);

    EXPECT_FALSE(thread.Start(9));
    EXPECT_TRUE(thread.IsStopRequested()); // not cleared by the refused Start
    EXPECT_TRUE(thread.IsRunning());
    thread.SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return thread.IsFinished(); }));
    EXPECT_EQ(thread.runs, 1);
    EXPECT_EQ(thread.param, 7);
    EXPECT_FALSE(thread.IsRunning());
}

TEST(ParvexThread, StartsAgainAfterRunReturned) {
    CProbeThread thread(/*gateOpen=*/true, /*returnAtOnce=*/true);
    ASSERT_TRUE(thread.Start(1));
    ASSERT_TRUE(WaitUntil([&] { return thread.IsFinished(); }));
    EXPECT_FALSE(thread.IsRunning());

    thread.SetGate(false);
    thread.SetStop(true);
    ASSERT_TRUE(thread.Start(2));
    EXPECT_FALSE(thread.IsFinished());
    EXPECT_FALSE(thread.IsStopRequested());
    ASSERT_TRUE(WaitUntil([&] { return thread.runs == 2; }));
    EXPECT_EQ(thread.param, 2);
    thread.SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return thread.IsFinished(); }));
    EXPECT_FALSE(thread.IsRunning());
}

TEST(ParvexThread, PauseBlocksWaitWhilePausedUntilResume) {
    CProbeThread thread(/*gateOpen=*/false);
    thread.Pause(); // no thread: ignored
    EXPECT_FALSE(thread.IsPaused());

    ASSERT_TRUE(thread.Start(0));
    EXPECT_FALSE(thread.IsPaused());
    thread.Pause();
    EXPECT_TRUE(thread.IsPaused());
    thread.SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return thread.atPause.load(); }));
    EXPECT_EQ(thread.pauseResult, -1);

    thread.Resume();
    EXPECT_FALSE(thread.IsPaused());
    ASSERT_TRUE(WaitUntil([&] { return thread.pauseResult == 1; }));
    EXPECT_TRUE(thread.IsRunning()); // the probe now waits for a stop request
    EXPECT_TRUE(thread.StopAndWait(10s));
}

TEST(ParvexThread, StopAndWaitResumesAPausedThread) {
    CProbeThread thread(/*gateOpen=*/false);
    ASSERT_TRUE(thread.Start(0));
    thread.Pause();
    thread.SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return thread.atPause.load(); }));

    EXPECT_TRUE(thread.StopAndWait(10s));
    EXPECT_EQ(thread.pauseResult, 1);
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.IsPaused());
}

TEST(ParvexThread, StopAndWaitTimesOutWhileRunIgnoresTheStop) {
    CProbeThread thread(/*gateOpen=*/false);
    ASSERT_TRUE(thread.Start(0));
    ASSERT_TRUE(WaitUntil([&] { return thread.runs == 1; }));

    EXPECT_FALSE(thread.StopAndWait(20ms));
    EXPECT_TRUE(thread.IsStopRequested());
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_FALSE(thread.IsFinished());

    thread.SetGate(true);
    EXPECT_TRUE(thread.StopAndWait(10s));
    EXPECT_TRUE(thread.IsFinished());
}

TEST(ThreadPool, DeletesThreadsItFindsFinishedAndTheRestWithItself) {
    std::atomic<int> destroyed{0};
    {
        CThreadPool pool(5ms);
        auto quick = std::make_unique<CProbeThread>(true, /*returnAtOnce=*/true, &destroyed);
        auto lasting = std::make_unique<CProbeThread>(true, /*returnAtOnce=*/false, &destroyed);
        CProbeThread* quickThread = quick.get();
        CProbeThread* lastingThread = lasting.get();
        pool.Add(std::move(quick));
        pool.Add(std::move(lasting));
        pool.Add(nullptr);
        EXPECT_EQ(pool.Count(), 2u);
        ASSERT_TRUE(pool.Start(0));
        ASSERT_TRUE(lastingThread->Start(0));
        ASSERT_TRUE(quickThread->Start(0));

        ASSERT_TRUE(WaitUntil([&] { return pool.Count() == 1 && destroyed == 1; }));
        EXPECT_TRUE(lastingThread->IsRunning());
    }
    EXPECT_EQ(destroyed, 2);
}

TEST(ThreadPool, RequestStopAllEndsWaitingThreadsWithoutWaitingForThem) {
    CThreadPool pool(1h); // no pass deletes anything meanwhile
    auto waiting = std::make_unique<CProbeThread>(true);
    CProbeThread* waitingThread = waiting.get();
    pool.Add(std::move(waiting));
    ASSERT_TRUE(waitingThread->Start(0));
    ASSERT_TRUE(WaitUntil([&] { return waitingThread->atPause.load(); }));

    pool.RequestStopAll();
    EXPECT_TRUE(waitingThread->IsStopRequested());
    ASSERT_TRUE(WaitUntil([&] { return waitingThread->IsFinished(); }));
    EXPECT_EQ(pool.Count(), 1u); // still held: deleting is the pass's or Clear's job
}

TEST(ThreadPool, StopRequestCutsThePassIntervalShort) {
    CThreadPool pool(1h);
    ASSERT_TRUE(pool.Start(0));
    EXPECT_TRUE(pool.StopAndWait(10s));
    EXPECT_TRUE(pool.IsFinished());
}

TEST(ThreadPool, ThreadThatIgnoresTheStopIsKeptAlive) {
    const auto savedBound = CParvexThread::TerminateTimeout();
    CParvexThread::SetTerminateTimeout(20ms);
    std::atomic<int> destroyed{0};
    CThreadPool pool;
    auto deaf = std::make_unique<CProbeThread>(/*gateOpen=*/false, false, &destroyed);
    CProbeThread* deafThread = deaf.get();
    pool.Add(std::move(deaf));
    ASSERT_TRUE(deafThread->Start(0));

    pool.Clear();
    CParvexThread::SetTerminateTimeout(savedBound);
    EXPECT_EQ(pool.Count(), 0u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_TRUE(deafThread->IsRunning());
    // The object stays usable: its thread can still finish on it.
    deafThread->SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return deafThread->IsFinished(); }));
    EXPECT_EQ(destroyed, 0);
}
