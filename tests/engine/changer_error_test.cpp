#include "engine/changer_errors.h"
#include "engine/changer_fixture.h"
#include "engine/message_texts.h"
#include "engine/retry_time.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::Contains;

class ErrorTest : public ChangerTest {
protected:
    // A Working task with files "a", "b" and "c", of which "c" is done.
    std::string FailingTask(char digit, std::uint32_t state = kStateWorking) {
        const std::string id = HexId(digit);
        AddFolderTask(id, state);
        AddSubTasks(id, {{"a", kMiB}, {"b", 2 * kMiB}, {"c", kMiB}});
        SetSubTask(id, "a", kStateWorking);
        SetSubTask(id, "b", kStateWorking);
        SetSubTask(id, "c", kStateCompleted, "1");
        return id;
    }
};

TEST_F(ErrorTest, CancelledTransferLeavesTheSubTaskAlone) {
    const std::string id = FailingTask('1');
    QueueNew<CChangerSubTaskError>(id, SubPath("a"), 1223, "cancelled");
    Apply();

    const CSubTaskInfo sub = SubTaskOf(id, "a");
    EXPECT_EQ(sub.state, kStateWorking);
    EXPECT_EQ(sub.error_code, 0);
    EXPECT_EQ(m_log.Count("SubTaskError"), 0u);
}

TEST_F(ErrorTest, TaskFailsOnceOnlyFailedSubTasksAreLeft) {
    Settings().SetOption(kOptionLanguage, "en");
    struct Case {
        int codeA;
        const char* textA;
        int codeB;
        const char* textB;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {12002, "timed out", 12002, "timed out again", 12002, "timed out"},
        {12002, "timed out", 5, "denied", 65535, "multi errors!"},
    };
    char digit = '1';
    for (const Case& c : cases) {
        const std::string id = FailingTask(digit++);
        QueueNew<CChangerSubTaskError>(id, SubPath("b"), c.codeB, c.textB);
        Apply();
        EXPECT_EQ(StateOf(id), kStateWorking) << c.code; // "a" is still running

        QueueNew<CChangerSubTaskError>(id, SubPath("a"), c.codeA, c.textA);
        Apply();
        const CTaskInfo task = TaskOf(id);
        EXPECT_EQ(task.state, kStateError) << c.code;
        EXPECT_EQ(task.error_code, c.code);
        EXPECT_EQ(task.error_info, c.text);
    }
}

TEST_F(ErrorTest, LocalHashErrorStartsTheFileAgain) {
    const std::string id = FailingTask('1');
    auto progress = Progress(id, "b", kStateWorking, "1", 500);
    progress->hashedParts.FromText("1");
    QueueChange(std::move(progress));
    Apply();
    ASSERT_EQ(TaskOf(id).complete_bytes, kMiB);

    QueueNew<CChangerSubTaskError>(id, SubPath("b"), engine_code::kLocalHashError, "");
    Apply();

    const CSubTaskInfo sub = SubTaskOf(id, "b");
    EXPECT_EQ(sub.state, kStateError);
    EXPECT_EQ(sub.error_info, GetErrorText(engine_code::kLocalHashError));
    EXPECT_FALSE(sub.trans_bitmap.Any());
    EXPECT_FALSE(sub.hash_bitmap.Any());
    EXPECT_EQ(sub.send_bytes, 0u);
    EXPECT_EQ(TaskOf(id).complete_bytes, 0u);
}

TEST_F(ErrorTest, TaskErrorFollowsTheTableAndDropsAFailedPreparation) {
    struct Case {
        std::uint32_t from;
        std::uint32_t state;
        std::uint32_t subTasks;
        std::uint32_t completed;
    };
    const Case cases[] = {
        {kStatePreparing, kStateError, 0, 0},
        {kStateWorking, kStateError, 3, 1},
        {kStatePaused, kStatePaused, 3, 1},
    };
    char digit = '1';
    for (const Case& c : cases) {
        const std::string id = FailingTask(digit++, c.from);
        QueueNew<CChangerTaskError>(id, engine_code::kDownloadLimitReached, "limit");
        Apply();

        const CTaskInfo task = TaskOf(id);
        EXPECT_EQ(task.state, c.state) << c.from;
        EXPECT_EQ(task.sub_task_count, c.subTasks) << c.from;
        EXPECT_EQ(task.complete_sub_task_count, c.completed) << c.from;
        if (c.state == kStateError) {
            EXPECT_EQ(task.error_code, engine_code::kDownloadLimitReached);
            EXPECT_EQ(task.error_info, "limit");
            EXPECT_THAT(m_workers.StoppedPrepare(), Contains(id));
        }
    }
}

TEST_F(ErrorTest, RetryTimeDependsOnTheCode) {
    constexpr std::uint64_t kNow = kStart / 1000;
    constexpr std::uint64_t kYear = 31536000;
    struct Case {
        const char* autoRetry;
        int code;
        std::uint64_t retryTime;
    };
    const Case cases[] = {
        {"true", 20004, kNow + kYear},
        {"true", 20007, kNow + kYear},
        {"true", 20101, kNow + 2},
        {"true", 12002, kNow + 30},
        {"false", 12002, kYear},
        // A link that refused to open again waits to be added again; an expired token alone is
        // renewed by the next attempt.
        {"true", 20113, kNow + kYear},
        {"true", 20003, kNow + 30},
    };
    char digit = '1';
    for (const Case& c : cases) {
        Settings().SetOption(kOptionAutoRetry, c.autoRetry);
        const std::string id = HexId(digit++);
        AddFolderTask(id, kStateWorking);
        QueueNew<CChangerTaskError>(id, c.code, "");
        Apply();
        EXPECT_EQ(TaskOf(id).retry_time, c.retryTime) << c.code << " " << c.autoRetry;
    }
}

TEST_F(ErrorTest, InvalidSessionIsLoggedWithoutTheSessionId) {
    Settings().SetOption(kOptionSessionText, "SESSION-SECRET");
    const std::string id = FailingTask('1');
    QueueNew<CChangerSubTaskError>(id, SubPath("a"), 20003, "Invalid session");
    Apply();

    EXPECT_EQ(m_log.Count("SubTaskError: task:" + id + ", subTask:" + SubPath("a") +
                          ", errorCode:20003, errorInfo:Invalid session"),
              1u);
    EXPECT_EQ(m_log.Count("Session:***"), 1u);
    EXPECT_EQ(m_log.Count("SESSION-SECRET"), 0u);
    EXPECT_EQ(SubTaskOf(id, "a").state, kStateError);
}

} // namespace
