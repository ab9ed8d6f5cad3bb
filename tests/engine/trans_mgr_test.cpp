#include "engine/changer_prepare_task.h"
#include "engine/changer_sub_task_progress.h"
#include "engine/data_folder_lock.h"
#include "engine/message_texts.h"
#include "engine/runtime_fixture.h"
#include "engine/worker_base.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::WaitUntil;

constexpr const char* kGroup = "G1";
constexpr const char* kLink = "https://svc.test/v2/delivery/download/CODE/";

// The whole engine through its one door, with stand-in transfer workers whose preparation finds
// one file per task (unless told otherwise).
class TransMgrTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        CWorkerBase::SetTerminateTimeout(std::chrono::seconds(5));
        SetTransferWorkers(&m_workers);
        m_workers.OnPrepare([this](const CTaskInfo& task) {
            if (m_prepareFinishes) {
                FinishPreparation(task.task_id, task.box_file.path, {"f.bin"});
            }
        });
        ASSERT_EQ(Mgr()->StartEngine(), 0);
        ASSERT_TRUE(WaitUntil([] { return Mgr()->IsLoaded(); }));
        for (const char* group : {kGroup, "G2"}) {
            TakeText(Mgr()->GetChangedTaskIdList(group)); // another test's changes
        }
    }
    void TearDown() override {
        Mgr()->ShutdownEngine();
        SetTransferWorkers(nullptr);
        StoreTest::TearDown();
    }

    static CTovuTransMgr* Mgr() { return GetTransMgr(); }

    // What a preparation worker reports when it has listed the task's item.
    static void FinishPreparation(const std::string& taskId, const std::string& base,
                                  const std::vector<std::string>& files) {
        std::vector<SubTaskSummary> found;
        for (const std::string& name : files) {
            SubTaskSummary summary;
            summary.path = base + "/" + name;
            summary.size = 1000;
            summary.state = kStateWaiting;
            found.push_back(summary);
        }
        QueueNew<CChangerPrepareTask>(taskId, std::move(found), true);
    }

    std::string NewTask(const std::string& name, const std::string& group = kGroup) {
        const std::string url = kLink + name;
        const std::string local = m_dir.File("save/" + name);
        return TakeText(Mgr()->NewDeliveryDownloadTask(
            group.c_str(), url.c_str(), local.c_str(), true,
            ("https://svc.test/v2/delivery/metadata/CODE/" + name).c_str(), 0, ""));
    }

    static std::string State(const std::string& taskId) {
        const std::string json = TakeText(Mgr()->GetTaskInfo(taskId.c_str()));
        const std::size_t at = json.find("\"state\":\"");
        return at == std::string::npos ? json
                                       : json.substr(at + 9, json.find('"', at + 9) - at - 9);
    }
    static bool Reaches(const std::string& taskId, const std::string& state) {
        return WaitUntil([&] { return State(taskId) == state; });
    }
    // Lets the dispatcher run a few more passes.
    static void Passes(int count) {
        CDispatchTaskWorker* dispatcher = GetEngineContext().dispatcher.load();
        const std::uint64_t until = dispatcher->PassCount() + static_cast<std::uint64_t>(count);
        ASSERT_TRUE(WaitUntil([&] { return dispatcher->PassCount() >= until; }));
    }

    FakeTransferWorkers m_workers;
    std::atomic<bool> m_prepareFinishes{true};
};

TEST_F(TransMgrTest, ANewTaskIsPreparedAndDownloaded) {
    const std::string id = NewTask("docs");
    ASSERT_EQ(id.size(), 32u);
    ASSERT_TRUE(Reaches(id, "StateWorking"));
    ASSERT_EQ(m_workers.LiveRanges().size(), 1u);
    EXPECT_EQ(m_workers.LiveRanges()[0].path, std::string(kLink) + "docs/f.bin");
    EXPECT_EQ(TakeText(Mgr()->GetSubTaskIdList(id.c_str(), 0, -1)),
              std::string(kLink) + "docs/f.bin" + kIdListSeparator);

    // The part worker reports the file's only part.
    m_workers.EndWorkers();
    auto done = std::make_unique<CChangerSubTaskProgress>(id, std::string(kLink) + "docs/f.bin");
    done->doneParts.Set(0);
    QueueChange(std::move(done));
    ASSERT_TRUE(Reaches(id, "StateCompleted"));
    EXPECT_THAT(m_workers.Finished(), ElementsAre(std::string(kLink) + "docs/f.bin"));

    // Completed never changes.
    Mgr()->StartTask(id.c_str());
    Mgr()->PauseTask(id.c_str());
    Passes(3);
    EXPECT_EQ(State(id), "StateCompleted");
}

TEST_F(TransMgrTest, PausingDuringPreparationEndsInPaused) {
    m_prepareFinishes = false;
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StatePreparing"));
    Mgr()->PauseTask(id.c_str());
    Passes(2);
    EXPECT_EQ(State(id), "StatePreparing");
    FinishPreparation(id, std::string(kLink) + "docs", {"a", "b"});
    ASSERT_TRUE(Reaches(id, "StatePaused"));
    Passes(2);
    EXPECT_TRUE(m_workers.Ranges().empty());

    Mgr()->StartTask(id.c_str());
    EXPECT_TRUE(Reaches(id, "StateWorking"));
}

TEST_F(TransMgrTest, StartingATaskWithoutSubTasksPreparesItAgain) {
    m_prepareFinishes = false;
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StatePreparing"));
    Mgr()->PauseTask(id.c_str());
    FinishPreparation(id, std::string(kLink) + "docs", {}); // the folder was empty
    ASSERT_TRUE(Reaches(id, "StatePaused"));
    ASSERT_EQ(m_workers.Prepared().size(), 1u);

    Mgr()->StartTask(id.c_str());
    ASSERT_TRUE(WaitUntil([&] { return m_workers.Prepared().size() == 2; }))
        << "Waiting became WaitPreparing, and the dispatcher prepared the task again";
    EXPECT_TRUE(Reaches(id, "StatePreparing"));
}

TEST_F(TransMgrTest, TenOfElevenTasksRunAtOnce) {
    std::vector<std::string> ids;
    for (int i = 0; i < 11; ++i) {
        ids.push_back(NewTask("t" + std::to_string(i)));
    }
    ASSERT_TRUE(WaitUntil([&] { return Mgr()->GetTaskCount(kGroup, kStateWorking) == 10; }));
    Passes(3);
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, kStateWorking), 10);
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, kStateWaiting), 1);

    // One leaves Working: the eleventh takes its place.
    const std::string working = TakeText(Mgr()->GetTaskIdList(kGroup, kStateWorking)).substr(0, 32);
    Mgr()->PauseTask(working.c_str());
    EXPECT_TRUE(WaitUntil([&] { return Mgr()->GetTaskCount(kGroup, kStateWaiting) == 0; }));
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, kStateWorking), 10);
}

TEST_F(TransMgrTest, ASpeedFactorOfTwoHalvesTheBudget) {
    Mgr()->SetOption(kOptionSpeedFactor, "2");
    for (int i = 0; i < 11; ++i) {
        NewTask("t" + std::to_string(i));
    }
    ASSERT_TRUE(WaitUntil([&] { return Mgr()->GetTaskCount(kGroup, kStateWorking) == 5; }));
    Passes(3);
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, kStateWorking), 5);
    EXPECT_EQ(m_workers.LiveRanges().size(), 5u);
}

TEST_F(TransMgrTest, AStalledTaskStartsAgainAfterFifteenSeconds) {
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StateWorking"));
    Passes(2);              // every change of the launch applied: the last activity is now
    m_workers.EndWorkers(); // its only worker ended without finishing the file
    AdvanceEngineClockForTesting(14'000);
    Passes(3);
    EXPECT_EQ(m_workers.Ranges().size(), 1u);
    EXPECT_EQ(State(id), "StateWorking");
    AdvanceEngineClockForTesting(1'000);
    ASSERT_TRUE(WaitUntil([&] { return m_workers.LiveRanges().size() == 1; }))
        << "paused, back to Waiting, and the file queued again";
    EXPECT_EQ(m_workers.Ranges().size(), 2u);
    EXPECT_TRUE(Reaches(id, "StateWorking"));
}

TEST_F(TransMgrTest, ChangedIdsAreGivenOnceInAscendingOrder) {
    m_prepareFinishes = false;
    const std::string a = NewTask("a");
    const std::string b = NewTask("b");
    NewTask("other", "G2");
    ASSERT_TRUE(Reaches(a, "StatePreparing"));
    ASSERT_TRUE(Reaches(b, "StatePreparing"));
    const auto [first, second] = std::minmax(a, b);
    EXPECT_EQ(TakeText(Mgr()->GetChangedTaskIdList(kGroup)),
              first + kIdListSeparator + second + kIdListSeparator);
    EXPECT_EQ(TakeText(Mgr()->GetChangedTaskIdList(kGroup)), "");
}

TEST_F(TransMgrTest, ASecondTaskForTheSamePathIsTheFirstOne) {
    m_prepareFinishes = false;
    const std::string id = NewTask("docs");
    EXPECT_EQ(NewTask("docs"), id);
    EXPECT_EQ(NewTask("docs", "G2"), "(none)");
    EXPECT_EQ(TakeText(Mgr()->GetTaskIdList(kGroup, 0xFF)), id + kIdListSeparator);
}

TEST_F(TransMgrTest, NewTaskReadsItsItemFromJson) {
    m_prepareFinishes = false;
    const std::string local = m_dir.File("save/r.pdf");
    const std::string id =
        TakeText(Mgr()->NewTask(kGroup,
                                R"({"path":"/Team/r.pdf","pathtype":"ent","neid":"7","size":2048,)"
                                R"("remain_download":"https://svc.test/remain"})",
                                local.c_str(), false, 0, ""));
    ASSERT_EQ(id.size(), 32u);
    const std::string json = TakeText(Mgr()->GetTaskInfo(id.c_str()));
    EXPECT_THAT(json, HasSubstr(R"("path":"/Team/r.pdf")"));
    EXPECT_THAT(json, HasSubstr(R"("neid":"7")"));
    EXPECT_THAT(json, HasSubstr(R"("remaincounturl":"https://svc.test/remain")"));
    EXPECT_EQ(TakeText(Mgr()->NewTask(kGroup, "not json", m_dir.File("x").c_str(), false, 0, "")),
              "(none)");
    EXPECT_EQ(Mgr()->NewTaskAsync(kGroup, "[]", m_dir.File("y").c_str(), false, 0, ""), 1);
    Passes(2);
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, 0xFF), 1) << "no task for an unreadable item";
}

TEST_F(TransMgrTest, UnknownIdsReadAsNothing) {
    EXPECT_EQ(TakeText(Mgr()->GetTaskInfo("NOPE")), R"({"task_id":"NOPE","state":"StateNone"})");
    EXPECT_EQ(TakeText(Mgr()->GetTaskIdList("nobody", 0xFF)), "(none)");
    EXPECT_EQ(TakeText(Mgr()->GetSubTaskIdList("NOPE", 0, -1)), "(none)");
    EXPECT_EQ(TakeText(Mgr()->GetSubTaskInfo("NOPE", "x")), "(none)");
    Mgr()->PauseTask("NOPE");
    Mgr()->DeleteTask("NOPE");
    Passes(2);
    Mgr()->FreeString(nullptr);
}

TEST_F(TransMgrTest, DeletingATaskRemovesItAndItsFolder) {
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StateWorking"));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(m_dir.File(id)); }))
        << "the task's folder in the data folder";
    Mgr()->DeleteTask(id.c_str());
    ASSERT_TRUE(Reaches(id, "StateNone"));
    EXPECT_TRUE(m_workers.LiveRanges().empty());
    EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(m_dir.File(id)); }));
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, 0xFF), 0);
}

TEST_F(TransMgrTest, TasksOutliveTheEngine) {
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StateWorking"));
    Mgr()->PauseTask(id.c_str());
    ASSERT_TRUE(Reaches(id, "StatePaused"));
    Mgr()->ShutdownEngine();
    EXPECT_EQ(TakeText(Mgr()->GetTaskInfo(id.c_str())),
              "{\"task_id\":\"" + id + "\",\"state\":\"StateNone\"}")
        << "no engine, no tasks";

    ASSERT_EQ(Mgr()->StartEngine(), 0);
    ASSERT_TRUE(WaitUntil([] { return Mgr()->IsLoaded(); }));
    EXPECT_EQ(State(id), "StatePaused");
    EXPECT_EQ(TakeText(Mgr()->GetSubTaskIdList(id.c_str(), 0, -1)),
              std::string(kLink) + "docs/f.bin" + kIdListSeparator);
}

TEST_F(TransMgrTest, OneEnginePerDataFolder) {
    Mgr()->ShutdownEngine();
    CDataFolderLock other;
    ASSERT_TRUE(other.Acquire(m_dir.Path()));
    EXPECT_EQ(Mgr()->StartEngine(), engine_code::kDataFolderInUse);
    EXPECT_EQ(GetErrorText(engine_code::kDataFolderInUse, "en"),
              "Another copy of the program is already using this data folder");
    other.Release();
    EXPECT_EQ(Mgr()->StartEngine(), 0);
}

TEST_F(TransMgrTest, LoadOperationsActOnlyWithoutLoadAtStart) {
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StateWorking"));
    Mgr()->ShutdownEngine();
    Mgr()->SetOption(kOptionLoadAtStart, "false");
    ASSERT_EQ(Mgr()->StartEngine(), 0);
    Passes(2);
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, 0xFF), 0);
    Mgr()->LoadTaskFromDb("G2");
    Passes(2);
    EXPECT_EQ(Mgr()->GetTaskCount(kGroup, 0xFF), 0);
    Mgr()->LoadTaskFromDb(kGroup);
    EXPECT_TRUE(WaitUntil([&] { return Mgr()->GetTaskCount(kGroup, 0xFF) == 1; }));
}

// A worker that misses its stop bound: it took the task container before the shutdown and uses
// it afterwards.
class StubbornWorker final : public CWorkerBase {
public:
    ~StubbornWorker() override { StopForDestruction(); }
    void RequestStop() override {}
    void Release() {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_wake.notify_all();
    }
    std::atomic<bool> done{false};
    std::atomic<bool> sawLoaded{false};

protected:
    void DoWork() override {
        CTaskMgr* tasks = EngineTasks();
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_released; });
        sawLoaded = tasks != nullptr && tasks->IsLoaded();
        done = true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_released = false;
};

TEST_F(TransMgrTest, AWorkerThatDoesNotStopKeepsTheEngineAlive) {
    CWorkerBase::SetTerminateTimeout(std::chrono::milliseconds(200));
    auto* worker = new StubbornWorker(); // auto-delete: the engine's bookkeeping owns it
    ASSERT_TRUE(worker->Start());
    Mgr()->ShutdownEngine();
    worker->Release();
    ASSERT_TRUE(WaitUntil([&] { return worker->done.load(); }));
    EXPECT_TRUE(worker->sawLoaded) << "the container it holds is still there";
    EXPECT_EQ(Mgr()->StartEngine(), engine_code::kDataFolderInUse)
        << "the old engine's stores may still be written";
    // Its job has returned: it is deleted (and its thread joined) like any finished worker.
    ASSERT_TRUE(WaitUntil([] { return FinishedWorkerCount() > 0; }));
    ReapFinishedWorkers();
}

std::atomic<std::uint64_t> g_inFlight{0};

TEST_F(TransMgrTest, ReportedProgressCountsBytesInFlightAndNeverGoesBack) {
    SetInFlightBytesSource([](const std::string&) { return g_inFlight.load(); });
    const std::string id = NewTask("docs");
    ASSERT_TRUE(Reaches(id, "StateWorking"));
    Passes(2);
    const auto reported = [&] {
        const std::string json = TakeText(Mgr()->GetTaskInfo(id.c_str()));
        const std::size_t at = json.find("\"complete_bytes\":");
        return json.substr(at + 17, json.find_first_of(",}", at) - at - 17);
    };
    g_inFlight = 600;
    EXPECT_EQ(reported(), "600");
    g_inFlight = 0; // the part was written; its progress report is not applied yet
    EXPECT_EQ(reported(), "600");
    SetInFlightBytesSource(nullptr);
}

} // namespace
