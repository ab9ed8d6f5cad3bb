#include "pipeline/pipeline_fixture.h"

#include <gmock/gmock.h>

#include "engine/download_ranges.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "net/service_request.h"

#include <filesystem>

namespace {

using parvex_service::Fault;
using parvex_service::FaultKind;
using testing_support::ReadFile;
using testing_support::WaitUntil;

constexpr std::uint64_t kSmall = 2 * kMiB + kMiB / 2;
constexpr std::uint64_t kMedium = 5 * kMiB;
constexpr std::uint64_t kLarge = 24 * kMiB;

class PartDownloadTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        StartService(R"([{"name": "a.bin", "size": 2621440}, {"name": "c.bin", "size": 5242880},
                         {"name": "big.bin", "size": 25165824}, {"name": "e.bin", "size": 0}])");
        AddLinkTask("T1");
        AddSubTasks("T1",
                    {{"a.bin", kSmall}, {"c.bin", kMedium}, {"big.bin", kLarge}, {"e.bin", 0}},
                    DownloadUrl(""));
    }
    static std::string Path(const std::string& name) {
        return "/v2/delivery/download/" + std::string(kCode) + "/" + name;
    }
    CSubTaskInfo Sub(const std::string& name) const {
        CSubTaskInfo sub;
        m_tasks->GetSubTaskOf("T1", DownloadUrl("/" + name), sub);
        return sub;
    }
    void ExpectFinished(const std::string& name, std::uint64_t size) {
        const CSubTaskInfo sub = Sub(name);
        EXPECT_EQ(sub.state, kStateCompleted) << name << ": " << sub.error_info;
        EXPECT_TRUE(ReadFile(sub.local_file.path) == Expected(name, size)) << name << " differs";
        EXPECT_FALSE(std::filesystem::exists(TempFilePath(sub.local_file.path)));
    }
};

TEST_F(PartDownloadTest, OneRequestPerRangeWrittenPartByPart) {
    RunRange("T1", "a.bin", 0, kSmall);
    EXPECT_EQ(RangesOf("a.bin"), std::vector<std::string>{"bytes=0-2621440"});
    ExpectFinished("a.bin", kSmall);
}

TEST_F(PartDownloadTest, PartsAreRecordedAsTheyArriveAndTheFileFinishesWithTheLast) {
    RunRange("T1", "c.bin", 0, 3 * kMiB);
    const CSubTaskInfo sub = Sub("c.bin");
    EXPECT_EQ(sub.trans_bitmap.ToText(), "11100");
    EXPECT_NE(sub.state, kStateCompleted);
    RunRange("T1", "c.bin", 3 * kMiB, kMedium);
    ExpectFinished("c.bin", kMedium);
}

TEST_F(PartDownloadTest, AnEmptyFileCompletesWithoutARequest) {
    RunRange("T1", "e.bin", 0, 0);
    EXPECT_TRUE(RangesOf("e.bin").empty());
    ExpectFinished("e.bin", 0);
}

TEST_F(PartDownloadTest, ABrokenStreamIsTakenOverAtTheFirstMissingPart) {
    Server().AddFault(Fault::CutAfter(Path("c.bin"), 3 * kMiB + 1000, 1));
    RunRange("T1", "c.bin", 0, kMedium);
    EXPECT_EQ(RangesOf("c.bin"),
              (std::vector<std::string>{"bytes=0-5242880", "bytes=3145728-5242880"}));
    // The taker-over asks for the version the first reply named.
    EXPECT_EQ(IfRangesOf("c.bin"), (std::vector<std::string>{"", ETagOf("c.bin")}));
    ExpectFinished("c.bin", kMedium);
}

// Failures that end the sub-task: how many requests were made, and what it records.
TEST_F(PartDownloadTest, FailuresEndTheSubTaskAfterTheirRetries) {
    struct Case {
        const char* what;
        Fault fault;
        int code;
        const char* text;
        std::size_t requests;
    };
    const Case cases[] = {
        {"an error object forbids the file", Fault::Error(Path("c.bin"), "forbidden", "nope", 403),
         service_code::kForbidden, "nope", 1},
        {"a 206 that sends nothing", Fault::Make(Path("c.bin"), FaultKind::Empty206),
         service_code::kNotFound, "No download permissions", 1},
        {"every stream breaks after a part and a half",
         Fault::CutAfter(Path("c.bin"), kMiB + kMiB / 2), platform_error::kConnectionAborted,
         nullptr, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Server().ClearFaults();
        Server().ClearRequests();
        Server().AddFault(c.fault);
        RunRange("T1", "c.bin", 0, kMedium);
        const CSubTaskInfo sub = Sub("c.bin");
        EXPECT_EQ(sub.state, kStateError);
        EXPECT_EQ(sub.error_code, c.code);
        if (c.text != nullptr) {
            EXPECT_EQ(sub.error_info, c.text);
        }
        EXPECT_EQ(RangesOf("c.bin").size(), c.requests);
        // Back to Waiting for the next case.
        CSubTaskInfo again = sub;
        again.state = kStateWaiting;
        m_tasks->FindTask("T1")->StoreSubTask(again);
    }
    // Each takeover started where its predecessor stopped.
    EXPECT_EQ(RangesOf("c.bin"),
              (std::vector<std::string>{"bytes=0-5242880", "bytes=1048576-5242880",
                                        "bytes=2097152-5242880", "bytes=3145728-5242880"}));
}

TEST_F(PartDownloadTest, AStoppedWorkerEndsQuietlyAndKeepsOnlyWholeParts) {
    Server().AddFault(Fault::SlowBody(Path("c.bin"), 20, 65536));
    CSubTaskInfo sub = Sub("c.bin");
    m_pipeline.StartPartWorker(
        RangeRequest{"T1", sub.sub_task_path, 1048576, sub.box_file, 0, kMedium, {}});
    // The reply's validator is reported first; the first part (synced) as soon as it is written.
    ASSERT_TRUE(WaitUntil([this] { return m_dispatcher->QueuedChangeCount() > 1; }));
    m_pipeline.StopPartWorkers("T1");
    ASSERT_TRUE(WaitForWorkers());
    Apply();
    sub = Sub("c.bin");
    EXPECT_NE(sub.state, kStateError);
    EXPECT_TRUE(sub.trans_bitmap.Test(0));
    EXPECT_FALSE(sub.trans_bitmap.Test(4));
    EXPECT_EQ(RangesOf("c.bin").size(), 1u) << "no retry after a stop";
    const std::string temp = ReadFile(TempFilePath(sub.local_file.path));
    const std::size_t parts = sub.trans_bitmap.CountSet();
    EXPECT_TRUE(temp.substr(0, parts * kMiB) == Expected("c.bin", parts * kMiB));
}

// The first reply's validator is stored and later ranges send it back as If-Range; once the
// file changed on the service, the sub-task starts again with the new version, not failing.
TEST_F(PartDownloadTest, AFileChangedBetweenTwoRangesStartsAgainWithTheNewVersion) {
    const std::string oldTag = ETagOf("c.bin");
    const std::string newTag = ETagOf("c.bin", true);
    RunRange("T1", "c.bin", 0, 3 * kMiB);
    EXPECT_EQ(Sub("c.bin").validator, oldTag);
    EXPECT_EQ(Sub("c.bin").trans_bitmap.ToText(), "11100");

    Server().AddFault(Fault::Make(Path("c.bin"), FaultKind::NewContent));
    RunRange("T1", "c.bin", 3 * kMiB, kMedium);
    CSubTaskInfo sub = Sub("c.bin");
    EXPECT_NE(sub.state, kStateError) << sub.error_code;
    EXPECT_FALSE(sub.trans_bitmap.Any());
    EXPECT_EQ(sub.validator, newTag);
    EXPECT_EQ(m_log.Count("SubTaskRestart: the file changed on the server"), 1u);

    RunRange("T1", "c.bin", 0, kMedium);
    sub = Sub("c.bin");
    EXPECT_EQ(sub.state, kStateCompleted) << sub.error_code;
    std::string expected(kMedium, '\0');
    parvex_service::FillContent(
        parvex_service::ReplacedContentSeed(parvex_service::ContentSeed(kCode, "/Root/c.bin")), 0,
        expected.data(), expected.size());
    EXPECT_TRUE(ReadFile(sub.local_file.path) == expected) << "not the new version";
    EXPECT_EQ(IfRangesOf("c.bin"), (std::vector<std::string>{"", oldTag, newTag}));
}

TEST_F(PartDownloadTest, ASplitHandsTheSecondHalfToACopy) {
    Server().AddFault(Fault::SlowBody(Path("big.bin"), 20, 262144));
    const CSubTaskInfo sub = Sub("big.bin");
    m_pipeline.StartPartWorker(
        RangeRequest{"T1", sub.sub_task_path, 1048576, sub.box_file, 0, kLarge, {}});
    IRangeWorker* worker = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (worker = m_pipeline.FindLargestRange()) != nullptr; }));
    // Split a stream in flight: a worker split before its request goes out asks for less.
    ASSERT_TRUE(WaitUntil([&] { return !RangesOf("big.bin").empty(); }));
    const std::uint64_t split = SplitOffset(worker->CurrentOffset(), worker->EndOffset(), kMiB);
    ASSERT_TRUE(worker->SplitAt(split));
    EXPECT_EQ(worker->EndOffset(), split);
    EXPECT_FALSE(worker->SplitAt(split)) << "nothing left there to split";
    ASSERT_TRUE(WaitForWorkers());
    Apply();
    // The copy's request may reach the service first.
    EXPECT_THAT(RangesOf("big.bin"),
                ::testing::UnorderedElementsAre("bytes=0-" + std::to_string(kLarge),
                                                "bytes=" + std::to_string(split) + "-" +
                                                    std::to_string(kLarge)));
    ExpectFinished("big.bin", kLarge);
}

} // namespace
