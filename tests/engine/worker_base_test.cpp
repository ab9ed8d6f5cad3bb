#include "engine/worker_base.h"
#include "engine/worker_registry.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

enum class Job {
    kUntilStop,  // returns on RequestStop
    kIgnoreStop, // returns only when the test releases it
};

class CProbeWorker final : public CWorkerBase {
public:
    using Registry = CWorkerRegistry<CProbeWorker>;

    CProbeWorker(Job job, std::string taskId, std::atomic<bool>* destroyed,
                 Registry* registry = nullptr)
        : m_job(job), m_taskId(std::move(taskId)), m_destroyed(destroyed), m_registry(registry) {
        if (m_registry != nullptr) {
            m_registry->Enter(this);
        }
    }

    ~CProbeWorker() override {
        Release();
        StopForDestruction();
        if (m_registry != nullptr) {
            m_registry->Leave(this);
        }
        *m_destroyed = true;
    }

    std::string TaskId() const { return m_taskId; }

    void RequestStop() override {
        {
            std::lock_guard lock(m_mutex);
            m_stopAsked = true;
        }
        m_changed.notify_all();
    }

    void Release() {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_changed.notify_all();
    }

    bool StopAsked() const {
        std::lock_guard lock(m_mutex);
        return m_stopAsked;
    }

    // Written by DoWork: read it only once IsRunning() is false.
    int jobsDone = 0;
    std::string result;

protected:
    void DoWork() override {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(
                lock, [this] { return m_released || (m_job == Job::kUntilStop && m_stopAsked); });
        }
        ++jobsDone;
        result = "done " + m_taskId;
    }

private:
    const Job m_job;
    const std::string m_taskId;
    std::atomic<bool>* const m_destroyed;
    Registry* const m_registry;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopAsked = false;
    bool m_released = false;
};

// Every test leaves no worker behind, even when it fails half-way.
class WorkerTest : public ::testing::Test {
protected:
    void TearDown() override {
        CWorkerBase::SetTerminateTimeout(m_savedBound);
        TerminateAllWorkers();
        ReapFinishedWorkers();
    }

    const std::size_t m_liveBefore = LiveWorkerCount();
    const std::chrono::milliseconds m_savedBound = CWorkerBase::TerminateTimeout();
    CProbeWorker::Registry m_registry;
    // Set by the workers' destructors; members so that a worker reaped in TearDown still has
    // somewhere to write.
    std::atomic<bool> m_destroyed[5] = {};
};

// A job that throws what a job may meet: memory running out, or anything else.
class CThrowingWorker final : public CWorkerBase {
public:
    CThrowingWorker(bool badAlloc, std::atomic<int>* failed)
        : m_badAlloc(badAlloc), m_failed(failed) {}
    ~CThrowingWorker() override { StopForDestruction(); }
    void RequestStop() override {}

protected:
    void DoWork() override {
        if (m_badAlloc) {
            throw std::bad_alloc();
        }
        throw 42;
    }
    void OnDoWorkFailed() override { ++*m_failed; }

private:
    const bool m_badAlloc;
    std::atomic<int>* m_failed;
};

} // namespace

TEST_F(WorkerTest, AJobThatThrowsFailsThroughItsWorkerAndTheProcessGoesOn) {
    std::atomic<int> failed{0};
    for (const bool badAlloc : {true, false}) {
        ASSERT_TRUE((new CThrowingWorker(badAlloc, &failed))->Start());
    }
    ASSERT_TRUE(WaitUntil([] { return FinishedWorkerCount() == 2; }));
    EXPECT_EQ(failed.load(), 2);
    ReapFinishedWorkers();
    EXPECT_EQ(LiveWorkerCount(), m_liveBefore);
}

TEST_F(WorkerTest, AutoDeleteWorkerIsDeletedByTheNextReap) {
    std::atomic<bool>& destroyed = m_destroyed[0];
    auto* worker = new CProbeWorker(Job::kUntilStop, "t1", &destroyed);
    EXPECT_EQ(LiveWorkerCount(), m_liveBefore + 1);
    ASSERT_TRUE(worker->Start());
    worker->Release();

    ASSERT_TRUE(WaitUntil([] { return FinishedWorkerCount() == 1; }));
    EXPECT_FALSE(destroyed);
    ReapFinishedWorkers();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(FinishedWorkerCount(), 0u);
    EXPECT_EQ(LiveWorkerCount(), m_liveBefore);
}

TEST_F(WorkerTest, WorkerWithoutAutoDeleteOutlivesItsJobUntilItsOwnerDeletesIt) {
    std::atomic<bool>& destroyed = m_destroyed[0];
    auto worker = std::make_unique<CProbeWorker>(Job::kIgnoreStop, "t7", &destroyed);
    worker->SetAutoDelete(false);
    ASSERT_TRUE(worker->Start());
    EXPECT_FALSE(worker->Start());

    EXPECT_FALSE(worker->StopAndWait(20ms));
    EXPECT_TRUE(worker->StopAsked());
    EXPECT_TRUE(worker->IsRunning());
    worker->Release();
    ASSERT_TRUE(WaitUntil([&] { return !worker->IsRunning(); }));

    ReapFinishedWorkers();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(FinishedWorkerCount(), 0u);
    EXPECT_EQ(worker->result, "done t7");

    // StopAndWait joins the ended thread, after which the worker can run again.
    EXPECT_TRUE(worker->StopAndWait(0ms));
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(WaitUntil([&] { return !worker->IsRunning(); }));
    EXPECT_EQ(worker->jobsDone, 2);

    worker.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(LiveWorkerCount(), m_liveBefore);
}

TEST_F(WorkerTest, TerminateAllWorkersStopsThemAndTheReapDeletesTheAutoDeleteOnes) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE((new CProbeWorker(Job::kUntilStop, "t", &m_destroyed[i]))->Start());
    }
    std::atomic<bool>& ownedDestroyed = m_destroyed[3];
    auto owned = std::make_unique<CProbeWorker>(Job::kUntilStop, "t", &ownedDestroyed);
    owned->SetAutoDelete(false);
    ASSERT_TRUE(owned->Start());
    // Never started: its creator still owns it, so shut-down leaves it alone.
    std::atomic<bool>& idleDestroyed = m_destroyed[4];
    auto idle = std::make_unique<CProbeWorker>(Job::kUntilStop, "t", &idleDestroyed);

    EXPECT_EQ(TerminateAllWorkers(), 0u);
    EXPECT_FALSE(owned->IsRunning());
    EXPECT_TRUE(owned->StopAsked());
    EXPECT_FALSE(idle->StopAsked());
    EXPECT_EQ(FinishedWorkerCount(), 3u);

    ReapFinishedWorkers();
    EXPECT_TRUE(m_destroyed[0] && m_destroyed[1] && m_destroyed[2]);
    EXPECT_FALSE(ownedDestroyed);
    EXPECT_FALSE(idleDestroyed);
    EXPECT_EQ(LiveWorkerCount(), m_liveBefore + 2);
}

TEST_F(WorkerTest, WorkerThatIgnoresTheStopIsLeftAliveUntilItsJobReturns) {
    CWorkerBase::SetTerminateTimeout(20ms);
    std::atomic<bool>& destroyed = m_destroyed[0];
    auto* worker = new CProbeWorker(Job::kIgnoreStop, "t", &destroyed);
    ASSERT_TRUE(worker->Start());

    EXPECT_EQ(TerminateAllWorkers(), 1u);
    ReapFinishedWorkers();
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(worker->IsRunning());
    EXPECT_EQ(LiveWorkerCount(), m_liveBefore + 1);

    worker->Release();
    ASSERT_TRUE(WaitUntil([] { return FinishedWorkerCount() == 1; }));
    ReapFinishedWorkers();
    EXPECT_TRUE(destroyed);
}

TEST_F(WorkerTest, RegistryCountsAndStopsByTask) {
    const std::string tasks[] = {"a", "a", "b"};
    CProbeWorker* workers[3] = {};
    for (int i = 0; i < 3; ++i) {
        workers[i] = new CProbeWorker(Job::kUntilStop, tasks[i], &m_destroyed[i], &m_registry);
        ASSERT_TRUE(workers[i]->Start());
    }

    const struct {
        std::string taskId;
        std::size_t count;
    } counts[] = {{"a", 2}, {"b", 1}, {"", 3}, {"c", 0}};
    for (const auto& c : counts) {
        EXPECT_EQ(m_registry.CountForTask(c.taskId), c.count) << "task '" << c.taskId << "'";
    }

    EXPECT_EQ(m_registry.StopForTask("a"), 2u);
    ASSERT_TRUE(WaitUntil([] { return FinishedWorkerCount() == 2; }));
    EXPECT_FALSE(workers[2]->StopAsked());
    EXPECT_TRUE(workers[2]->IsRunning());
    // Stopped workers stay registered until they are deleted.
    EXPECT_EQ(m_registry.CountForTask("a"), 2u);

    ReapFinishedWorkers();
    EXPECT_TRUE(m_destroyed[0] && m_destroyed[1]);
    EXPECT_FALSE(m_destroyed[2]);
    EXPECT_EQ(m_registry.CountForTask("a"), 0u);
    EXPECT_EQ(m_registry.CountForTask(""), 1u);
}
