#include "engine/changer_errors.h"
#include "engine/changer_task_state.h"
#include "engine/download_ranges.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "engine/runtime_fixture.h"
#include "engine/task_state.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Range = FakeTransferWorkers::Range;
using Span = std::pair<std::uint64_t, std::uint64_t>;

TEST(DownloadRangesTest, MissingPartsBecomeOneRangePerRun) {
    struct Case {
        const char* done;
        std::uint64_t size;
        std::vector<Span> expected;
    };
    const Case cases[] = {
        {"", 0, {}},
        {"", 1, {{0, 1}}},
        {"", 3 * kMiB, {{0, 3 * kMiB}}},
        {"11", 5 * kMiB / 2, {{2 * kMiB, 5 * kMiB / 2}}},
        {"101", 4 * kMiB, {{kMiB, 2 * kMiB}, {3 * kMiB, 4 * kMiB}}},
        {"0110", 4 * kMiB + 7, {{0, kMiB}, {3 * kMiB, 4 * kMiB + 7}}},
        {"11111", 5 * kMiB, {}},
    };
    for (const Case& c : cases) {
        PartBitmap done;
        done.FromText(c.done);
        EXPECT_EQ(MissingRanges(done, c.size, kMiB), c.expected) << c.done << " " << c.size;
    }
}

TEST(DownloadRangesTest, SplitsAfterHalfOfTheRemainingWholeParts) {
    EXPECT_EQ(SplitOffset(0, 50 * kMiB, kMiB), 25 * kMiB);
    EXPECT_EQ(SplitOffset(0, 25 * kMiB, kMiB), 12 * kMiB);
    EXPECT_EQ(SplitOffset(3 * kMiB, 14 * kMiB + 5, kMiB), 9 * kMiB);
}

class DispatcherTest : public RuntimeTest {
protected:
    // A Waiting folder task with the given files.
    std::string WaitingTask(const std::string& id,
                            const std::vector<std::pair<std::string, std::int64_t>>& items) {
        AddFolderTask(id, kStateWaiting);
        AddSubTasks(id, items);
        return id;
    }

    std::vector<std::string> TasksIn(std::uint32_t state) const {
        return m_tasks->ListTasks(state);
    }
};

bool AlignedAndContiguous(std::vector<Range> ranges, std::uint64_t size) {
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.start < b.start; });
    std::uint64_t next = 0;
    for (const Range& range : ranges) {
        if (range.start != next || range.start % kMiB != 0) {
            return false;
        }
        next = range.end;
    }
    return next == size;
}

TEST_F(DispatcherTest, WaitingTasksAreAdmittedUpToTheBudget) {
    struct Case {
        const char* factor;
        std::size_t budget;
    };
    for (const Case c : {Case{"1", 10}, Case{"2", 5}, Case{"0", 15}}) {
        SCOPED_TRACE(c.factor);
        Settings().SetOption(kOptionSpeedFactor, c.factor);
        const std::string prefix = std::string("F") + c.factor + "-";
        for (int i = 0; i < 16; ++i) {
            WaitingTask(prefix + std::to_string(10 + i), {{"f.bin", 1000}});
        }
        Pass();
        EXPECT_EQ(TasksIn(kStateWorking).size(), c.budget);
        EXPECT_EQ(TasksIn(kStateWaiting).size(), 16 - c.budget);
        EXPECT_EQ(m_workers.LiveRanges().size(), c.budget);
        // Nothing more runs until a task leaves Working.
        Pass();
        EXPECT_EQ(TasksIn(kStateWorking).size(), c.budget);
        EXPECT_EQ(m_workers.LiveRanges().size(), c.budget);
        for (const std::string& id : m_tasks->ListTasks(0xFF)) {
            QueueNew<CChangerChangeTaskState>(id, CChangerChangeTaskState::kDelete);
        }
        Apply();
    }
}

TEST_F(DispatcherTest, ALargeFileIsSplitIntoAlignedHalves) {
    struct Case {
        std::uint64_t size;
        std::size_t workers;
    };
    // 50 MiB ends when no piece is above 10 MiB; 200 MiB when ten workers run.
    for (const Case c : {Case{50 * kMiB, 8}, Case{200 * kMiB, 10}}) {
        const std::string id = "S" + std::to_string(c.size);
        WaitingTask(id, {{"big.bin", static_cast<std::int64_t>(c.size)}});
        Pass();
        std::vector<Range> ranges = m_workers.LiveRanges();
        std::erase_if(ranges, [&](const Range& r) { return r.taskId != id; });
        EXPECT_EQ(ranges.size(), c.workers) << c.size;
        EXPECT_TRUE(AlignedAndContiguous(ranges, c.size)) << c.size;
        for (const Range& range : ranges) {
            EXPECT_TRUE(ranges.size() == 10 || range.end - range.start <= 10 * kMiB);
        }
        EXPECT_EQ(StateOf(id), kStateWorking);
        EXPECT_EQ(SubTaskOf(id, "big.bin").state, kStateWorking);
        m_workers.EndWorkers();
    }
}

TEST_F(DispatcherTest, RangesStartAfterThePartsAlreadyDone) {
    WaitingTask("T1", {{"a.bin", 5 * kMiB / 2}, {"gone.bin", 3 * kMiB}});
    const std::shared_ptr<CTaskEntry> entry = m_tasks->FindTask("T1");
    for (const char* name : {"a.bin", "gone.bin"}) {
        CSubTaskInfo sub = SubTaskOf("T1", name);
        sub.trans_bitmap.FromText("110");
        sub.send_bytes = 2 * kMiB;
        entry->StoreSubTask(sub);
        entry->SetSubTaskBytes(sub.sub_task_path, 2 * kMiB);
    }
    // Only a.bin still has its temporary file; gone.bin's progress went with its file.
    std::filesystem::create_directories(m_dir.File("save/T1"));
    testing_support::WriteFile(SubTaskOf("T1", "a.bin").local_file.path + ".tovutmp", "x");

    Pass();
    std::vector<Span> spans;
    for (const Range& range : m_workers.Ranges()) {
        spans.emplace_back(range.start, range.end);
    }
    std::sort(spans.begin(), spans.end());
    EXPECT_THAT(spans, ElementsAre(Span{0, 3 * kMiB}, Span{2097152, 2621440}));
    EXPECT_FALSE(SubTaskOf("T1", "gone.bin").trans_bitmap.Any());
    EXPECT_EQ(SubTaskOf("T1", "gone.bin").send_bytes, 0u);
    EXPECT_EQ(TaskOf("T1").complete_bytes, 2 * kMiB) << "only a.bin's parts still count";
}

TEST_F(DispatcherTest, EmptyFilesGetOneEmptyRange) {
    WaitingTask("T1", {{"empty.txt", 0}});
    Pass();
    const std::vector<Range> ranges = m_workers.Ranges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].start, 0u);
    EXPECT_EQ(ranges[0].end, 0u);
}

TEST_F(DispatcherTest, ANameLeavingTheTaskFolderFailsWithoutARange) {
    WaitingTask("T1", {{"../escape.txt", 10}, {"ok.txt", 10}});
    Pass();
    const CSubTaskInfo bad = SubTaskOf("T1", "../escape.txt");
    EXPECT_EQ(bad.state, kStateError);
    EXPECT_EQ(bad.error_code, engine_code::kInvalidNameFromServer);
    const std::vector<Range> ranges = m_workers.Ranges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].path, SubPath("ok.txt"));
    Pass();
    EXPECT_EQ(m_workers.Ranges().size(), 1u) << "the refused name is not queued again";
}

TEST_F(DispatcherTest, PausingATaskDropsItsQueuedRanges) {
    Settings().SetOption(kOptionSpeedFactor, "2"); // five workers
    WaitingTask("T1",
                {{"1", 10}, {"2", 10}, {"3", 10}, {"4", 10}, {"5", 10}, {"6", 10}, {"7", 10}});
    Pass();
    EXPECT_EQ(m_workers.Ranges().size(), 5u);
    EXPECT_EQ(m_dispatcher->QueuedRangeCount(), 2u);
    QueueNew<CChangerChangeTaskState>("T1", kStatePaused);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStatePaused);
    EXPECT_TRUE(m_workers.LiveRanges().empty()) << "the pause stops the task's workers";
    Pass();
    EXPECT_EQ(m_workers.Ranges().size(), 5u) << "nothing of the paused task is launched";
    EXPECT_EQ(m_dispatcher->QueuedRangeCount(), 0u);
}

TEST_F(DispatcherTest, AnErroredTaskWaitsWhileAnotherTaskIsWaiting) {
    AddFolderTask("E1", kStateError);
    AddSubTasks("E1", {{"a", 10}});
    AddFolderTask("E2", kStateError); // no sub-tasks: prepared again
    // An upload waits for a side this program does not have: it stays Waiting.
    CTaskInfo upload;
    upload.task_id = "W2";
    upload.state = kStateWaiting;
    upload.is_upload = true;
    upload.group_id = kGroup;
    upload.box_file.path = "/Uploads";
    upload.local_file.path = m_dir.File("up");
    m_tasks->AddTask(upload, true, true);

    for (int i = 0; i < 3; ++i) {
        Pass();
    }
    EXPECT_EQ(StateOf("E1"), kStateError);
    EXPECT_EQ(StateOf("E2"), kStateError);

    QueueNew<CChangerChangeTaskState>("W2", kStatePaused);
    Pass(); // W2 leaves Waiting
    Pass(); // the retries are queued and applied
    EXPECT_EQ(StateOf("E1"), kStateWaiting);
    EXPECT_EQ(StateOf("E2"), kStateWaitPreparing);
    Pass();
    EXPECT_THAT(m_workers.Prepared(), ElementsAre("E2"));
}

TEST_F(DispatcherTest, ARetryWaitsForItsTime) {
    WaitingTask("T1", {{"a", 10}});
    Pass();
    m_workers.EndWorkers();
    QueueNew<CChangerTaskError>("T1", 12002, "time-out");
    Apply();
    ASSERT_EQ(StateOf("T1"), kStateError);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStateError);
    AdvanceEngineClockForTesting(31'000);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStateWaiting);
}

TEST_F(DispatcherTest, RunningTasksReportActivityAndStalledOnesRestart) {
    WaitingTask("T1", {{"a", 10}});
    Pass();
    ASSERT_EQ(StateOf("T1"), kStateWorking);
    TakeText(GetTransMgr()->GetChangedTaskIdList(kGroup)); // start afresh

    AdvanceEngineClockForTesting(1500);
    Pass();
    EXPECT_EQ(TaskOf("T1").used_time, 1500u);
    EXPECT_EQ(TakeText(GetTransMgr()->GetChangedTaskIdList(kGroup)),
              std::string("T1") + kIdListSeparator);

    // The worker ends without finishing the file: nothing happens for 15 seconds.
    m_workers.EndWorkers();
    AdvanceEngineClockForTesting(14'000);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStateWorking);
    AdvanceEngineClockForTesting(1000);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStateWaiting);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStateWorking);
    EXPECT_EQ(m_workers.LiveRanges().size(), 1u) << "the file is fetched again";
}

TEST_F(DispatcherTest, ATaskWhoseSubTasksAllCompletedIsCompleted) {
    WaitingTask("T1", {{"a", 10}});
    Pass();
    m_workers.EndWorkers();
    // Its file completed, but the task's own completion was missed.
    const std::shared_ptr<CTaskEntry> entry = m_tasks->FindTask("T1");
    CSubTaskInfo sub = SubTaskOf("T1", "a");
    sub.state = kStateCompleted;
    entry->StoreSubTask(sub);
    AdvanceEngineClockForTesting(1001);
    Pass();
    EXPECT_EQ(StateOf("T1"), kStateCompleted);
}

TEST_F(DispatcherTest, ATaskWhoseRangesWaitForAFreeWorkerIsNotStalled) {
    Settings().SetOption(kOptionSpeedFactor, "2"); // five workers
    WaitingTask("BIG", {{"big.bin", 200 * static_cast<std::int64_t>(kMiB)}});
    Pass();
    ASSERT_EQ(m_workers.LiveRanges().size(), 5u) << "the big file takes every worker";
    AddFolderTask("A", kStateWorking);
    AddSubTasks("A", {{"a.bin", 10}});
    Pass();
    ASSERT_EQ(m_dispatcher->QueuedRangeCount(), 1u);

    AdvanceEngineClockForTesting(20'000);
    Pass();
    EXPECT_EQ(StateOf("A"), kStateWorking);
    EXPECT_EQ(m_dispatcher->QueuedRangeCount(), 1u) << "its range keeps its place";
}

TEST_F(DispatcherTest, APreparationStartsOnlyWhenTheLastOneHasEnded) {
    AddFolderTask("A", kStateWaitPreparing);
    m_workers.SetStillPreparing("A", true);
    Pass();
    EXPECT_EQ(StateOf("A"), kStateWaitPreparing);
    m_workers.SetStillPreparing("A", false);
    Pass();
    EXPECT_EQ(StateOf("A"), kStatePreparing);
    EXPECT_THAT(m_workers.Prepared(), ElementsAre("A"));

    // No thread for the preparation: the task fails and is retried later.
    AddFolderTask("B", kStateWaitPreparing);
    m_workers.SetPrepareFails(true);
    Pass();
    EXPECT_EQ(StateOf("B"), kStateError);
    EXPECT_EQ(TaskOf("B").error_code, platform_error::kGeneralFailure);
}

TEST_F(DispatcherTest, NewTasksArePreparedOldestFirst) {
    AddFolderTask("B", kStateWaitPreparing, kStart - 10);
    AddFolderTask("A", kStateWaitPreparing, kStart);
    Pass();
    EXPECT_THAT(m_workers.Prepared(), ElementsAre("B", "A"));
    EXPECT_EQ(StateOf("A"), kStatePreparing);
    Pass();
    EXPECT_EQ(m_workers.Prepared().size(), 2u) << "a task in Preparing is not prepared again";
}

} // namespace
