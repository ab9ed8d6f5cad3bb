// A download's file validator in the engine core: which part reports count, and the restart of
// a sub-task whose file changed on the service.
#include "engine/changer_fixture.h"
#include "engine/changer_sub_task_restart.h"
#include "engine/message_texts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace {

using Range = FakeTransferWorkers::Range;

class RestartTest : public ChangerTest {
protected:
    void SetUp() override {
        ChangerTest::SetUp();
        AddFolderTask(kTask, kStateWorking);
        AddSubTasks(kTask, {{"f", 3 * kMiB}, {"g", kMiB}});
    }

    // "f" of the task is Working with the parts recorded under the validator.
    void FetchedUnder(const std::string& taskId, const std::string& validator, const char* parts) {
        SetSubTask(taskId, "f", kStateWorking, parts);
        CSubTaskInfo sub = SubTaskOf(taskId, "f");
        sub.validator = validator;
        m_tasks->FindTask(taskId)->StoreSubTask(sub);
    }
    void Restart(const std::string& oldValidator, const std::string& newValidator) {
        QueueNew<CChangerSubTaskRestart>(kTask, SubPath("f"), oldValidator, newValidator);
        Apply();
    }
    std::vector<Range> RangesOfF() const {
        std::vector<Range> ranges = m_workers.Ranges();
        std::erase_if(ranges, [](const Range& range) { return range.path != SubPath("f"); });
        return ranges;
    }

    const std::string kTask = HexId('1');
};

TEST_F(RestartTest, PartsCountOnlyUnderTheSubTasksValidator) {
    struct Case {
        const char* what;
        std::string before;
        std::optional<std::string> report;
        bool learned;
        bool counted;
        std::string after;
    };
    const Case cases[] = {
        {"a report that names none (not a part worker's)", "v1", std::nullopt, false, true, "v1"},
        {"a service that sends no validator", "", "", false, true, ""},
        {"the same version", "v1", "v1", false, true, "v1"},
        {"fetched before the file changed", "v1", "v0", false, false, "v1"},
        {"fetched without one while the sub-task has one", "v1", "", false, false, "v1"},
        {"the first reply's validator is taken", "", "v1", true, true, "v1"},
        {"a version the sub-task never took", "", "v1", false, false, ""},
        {"a later first reply does not replace the sub-task's", "v1", "v2", true, false, "v1"},
    };
    char digit = '2';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string id = HexId(digit++);
        AddFolderTask(id, kStateWorking);
        AddSubTasks(id, {{"f", 3 * kMiB}});
        FetchedUnder(id, c.before, "");
        auto report = Progress(id, "f", kStateWorking, "1");
        report->validator = c.report;
        report->validatorLearned = c.learned;
        QueueChange(std::move(report));
        Apply();

        const CSubTaskInfo sub = SubTaskOf(id, "f");
        EXPECT_EQ(sub.trans_bitmap.Any(), c.counted);
        EXPECT_EQ(sub.validator, c.after);
        EXPECT_EQ(TaskOf(id).complete_bytes, c.counted ? kMiB : 0u);
    }
}

TEST_F(RestartTest, AChangedFileStartsAgainWithTheNewValidatorOnceItsOldWorkersEnded) {
    FetchedUnder(kTask, "v1", "110");
    m_workers.StartPartWorker(
        RangeRequest{kTask, SubPath("f"), kMiB, {}, 2 * kMiB, 3 * kMiB, "v1"});
    m_workers.StartPartWorker(RangeRequest{kTask, SubPath("g"), kMiB, {}, 0, kMiB, {}});

    Restart("v1", "v2");
    CSubTaskInfo sub = SubTaskOf(kTask, "f");
    EXPECT_FALSE(sub.trans_bitmap.Any());
    EXPECT_EQ(sub.validator, "v2");
    EXPECT_EQ(sub.state, kStateWaiting);
    EXPECT_EQ(TaskOf(kTask).complete_bytes, 0u);
    EXPECT_EQ(m_log.Count("SubTaskRestart: the file changed on the server, task:" + kTask), 1u);
    const std::vector<Range> workers = m_workers.Ranges();
    EXPECT_TRUE(workers[0].stopped) << "the old version's worker stops";
    EXPECT_FALSE(workers[1].stopped) << "another file's worker goes on";

    // What the stopped worker wrote of the old version, and a second worker's news of the
    // same change, are dropped.
    auto late = Progress(kTask, "f", kStateWorking, "001");
    late->validator = "v1";
    QueueChange(std::move(late));
    Restart("v1", "v3");
    sub = SubTaskOf(kTask, "f");
    EXPECT_FALSE(sub.trans_bitmap.Any());
    EXPECT_EQ(sub.validator, "v2");
    EXPECT_EQ(sub.state, kStateWaiting);
    EXPECT_EQ(m_log.Count("SubTaskRestart"), 1u);

    // Nothing new writes the file while the old worker may still do.
    Pass();
    EXPECT_EQ(RangesOfF().size(), 1u);
    m_workers.EndWorkers(kTask);
    Pass();
    const std::vector<Range> ranges = RangesOfF();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[1].start, 0u);
    EXPECT_EQ(ranges[1].end, 3 * kMiB);
    EXPECT_EQ(ranges[1].validator, "v2");
}

TEST_F(RestartTest, AFileThatKeepsChangingFailsWith20112) {
    FetchedUnder(kTask, "v0", "1");
    for (std::size_t i = 1; i <= CChangerSubTaskRestart::kMaxRestarts; ++i) {
        Restart("v" + std::to_string(i - 1), "v" + std::to_string(i));
        EXPECT_EQ(SubTaskOf(kTask, "f").state, kStateWaiting) << i;
    }
    const std::string last = "v" + std::to_string(CChangerSubTaskRestart::kMaxRestarts);
    Restart(last, "vN");
    const CSubTaskInfo sub = SubTaskOf(kTask, "f");
    EXPECT_EQ(sub.state, kStateError);
    EXPECT_EQ(sub.error_code, engine_code::kFileChangedOnServer);
    EXPECT_FALSE(sub.trans_bitmap.Any());
    EXPECT_EQ(sub.validator, "vN") << "a retry asks for the version the service has";
}

} // namespace
