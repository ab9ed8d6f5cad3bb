#include "engine/changer_fixture.h"
#include "engine/dispatch_budget.h"
#include "engine/message_texts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

class ProgressTest : public ChangerTest {
protected:
    void SetUp() override {
        ChangerTest::SetUp();
        AddFolderTask(kTask, kStateWorking);
        AddSubTasks(kTask, {{"f", 3 * kMiB}, {"g", kMiB}});
    }

    const std::string kTask = HexId('1');
};

TEST_F(ProgressTest, ReportsForOneSubTaskAndStateMerge) {
    QueueChange(Progress(kTask, "f", kStateWorking, "1", 100));
    QueueChange(Progress(kTask, "f", kStateWorking, "01", 200));
    EXPECT_EQ(m_dispatcher->QueuedChangeCount(), 1u);

    Apply();

    const CSubTaskInfo sub = SubTaskOf(kTask, "f");
    EXPECT_EQ(sub.state, kStateWorking);
    EXPECT_EQ(sub.trans_bitmap.ToText(), "110");
    EXPECT_EQ(TaskOf(kTask).send_bytes, 300u);
    EXPECT_EQ(TaskOf(kTask).complete_bytes, 2 * kMiB);
}

TEST_F(ProgressTest, OtherReportsStaySeparate) {
    AddFolderTask(HexId('2'), kStateWorking);
    AddSubTasks(HexId('2'), {{"f", 3 * kMiB}});
    auto otherRevision = Progress(kTask, "f", kStateWorking, "01");
    otherRevision->revision = "r2";
    std::unique_ptr<CChangerSubTaskProgress> seconds[] = {
        Progress(kTask, "f", kStateWaiting, "01"),
        Progress(kTask, "g", kStateWorking, "1"),
        Progress(HexId('2'), "f", kStateWorking, "01"),
        std::move(otherRevision),
    };
    for (auto& second : seconds) {
        QueueChange(Progress(kTask, "f", kStateWorking, "1"));
        QueueChange(std::move(second));
        EXPECT_EQ(m_dispatcher->QueuedChangeCount(), 2u);
        Apply();
    }
}

TEST_F(ProgressTest, AllPartsCompleteTheSubTaskAndTheTask) {
    SetSubTask(kTask, "g", kStateCompleted, "1");
    // Every worker slot is taken, so the ranges of "f" stay queued on the dispatcher.
    for (int i = 0; i < DownloadWorkerLimit(1.0); ++i) {
        m_workers.StartPartWorker(RangeRequest{HexId('9'), SubPath("x"), kMiB, {}, 0, kMiB, {}});
    }
    Pass();
    ASSERT_EQ(m_dispatcher->QueuedRangeCount(), 1u);

    QueueChange(Progress(kTask, "f", kStateWorking, "111"));
    Apply();

    EXPECT_EQ(SubTaskOf(kTask, "f").state, kStateCompleted);
    EXPECT_THAT(m_workers.Finished(), ElementsAre(SubPath("f")));
    EXPECT_EQ(StateOf(kTask), kStateCompleted);
    EXPECT_EQ(TaskOf(kTask).complete_sub_task_count, 2u);

    // The task's queued ranges were forgotten: none of them starts once slots are free.
    m_workers.EndWorkers();
    Pass();
    for (const FakeTransferWorkers::Range& range : m_workers.Ranges()) {
        EXPECT_NE(range.taskId, kTask);
    }

    // A late report does not finish the file again.
    QueueChange(Progress(kTask, "f", kStateWorking, "001"));
    Apply();
    EXPECT_EQ(m_workers.Finished().size(), 1u);
}

TEST_F(ProgressTest, AllPartsCompleteOnlyARunningOrWaitingSubTask) {
    struct Case {
        std::uint32_t before;
        std::uint32_t requested; // 0: none
        std::uint32_t after;
    };
    const Case cases[] = {
        {kStateWorking, kStateWorking, kStateCompleted},
        {kStateWaiting, kStateWaiting, kStateCompleted},
        {kStateWorking, 0, kStateCompleted},
        {kStateError, 0, kStateError},
        {kStateWorking, kStatePaused, kStatePaused},
    };
    char digit = '2';
    for (const Case& c : cases) {
        const std::string id = HexId(digit++);
        AddFolderTask(id, kStateWorking);
        AddSubTasks(id, {{"f", kMiB}, {"g", kMiB}});
        SetSubTask(id, "f", c.before);

        QueueChange(Progress(id, "f", c.requested, "1"));
        Apply();

        EXPECT_EQ(SubTaskOf(id, "f").state, c.after) << c.before << " " << c.requested;
        if (c.after != kStateCompleted) {
            EXPECT_EQ(SubTaskOf(id, "f").trans_bitmap.ToText(), "1") << "the part is kept";
        }
    }
}

TEST_F(ProgressTest, AWorkingReportCountsOnlyWhileTheTaskAndItsSubTaskRun) {
    struct Case {
        std::uint32_t task;
        std::uint32_t before;
        std::uint32_t after;
    };
    const Case cases[] = {
        {kStateWorking, kStateWaiting, kStateWorking},
        {kStateWorking, kStateWorking, kStateWorking},
        // Paused (and resumed) between the launch and its report: the range builder must find
        // the file Waiting again.
        {kStateWaiting, kStateWaiting, kStateWaiting},
        {kStatePaused, kStateWaiting, kStateWaiting},
        // Another range of a file that already failed reports late: the failure stays.
        {kStateWorking, kStateError, kStateError},
    };
    char digit = '2';
    for (const Case& c : cases) {
        const std::string id = HexId(digit++);
        AddFolderTask(id, c.task);
        AddSubTasks(id, {{"f", 3 * kMiB}});
        SetSubTask(id, "f", c.before);

        QueueChange(Progress(id, "f", kStateWorking, "1"));
        Apply();

        const CSubTaskInfo sub = SubTaskOf(id, "f");
        EXPECT_EQ(sub.state, c.after) << c.task << " " << c.before;
        EXPECT_EQ(sub.trans_bitmap.ToText(), "100") << "the part is kept";
    }
}

TEST_F(ProgressTest, FailedFinishFailsTheSubTaskWithItsCode) {
    m_workers.SetFinishError(5);
    QueueChange(Progress(kTask, "g", kStateWorking, "1"));
    Apply();

    const CSubTaskInfo sub = SubTaskOf(kTask, "g");
    EXPECT_EQ(sub.state, kStateError);
    EXPECT_EQ(sub.error_code, 5);
    EXPECT_EQ(sub.error_info, GetErrorText(5));
    EXPECT_FALSE(sub.trans_bitmap.Any()); // nothing of the failed change was stored
    EXPECT_EQ(TaskOf(kTask).complete_bytes, 0u);
    EXPECT_EQ(m_log.Count("SetDownloadFinish error: task:" + kTask + ", subTask:" + SubPath("g")),
              1u);
    EXPECT_EQ(StateOf(kTask), kStateWorking); // "f" is still unfinished
}

} // namespace
