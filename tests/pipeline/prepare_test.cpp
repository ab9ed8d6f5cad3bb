#include "pipeline/pipeline_fixture.h"

#include "engine/message_texts.h"
#include "net/service_request.h"
#include "url_text.h"

#include <gmock/gmock.h>

#include <optional>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Lt;
using testing_support::WaitUntil;

namespace {

constexpr const char* kMetadataPath = "/v2/delivery/metadata/P1";
constexpr const char* kRemainingPath = "/v2/delivery/get_remain_download_count/P1";

std::string QueryOf(const parvex_service::RecordedRequest& request, const std::string& name) {
    return parvex_service::QueryValue(parvex_service::ParseQuery(request.query), name);
}

} // namespace

class PrepareTest : public PipelineTest {
protected:
    // A task for the link item at `below`, waiting in Preparing as the dispatcher leaves it.
    CTaskInfo AddPreparingTask(const std::string& id, const std::string& below, bool isFolder) {
        BoxFileInfo box;
        box.path = DownloadUrl(below);
        box.metaurl = MetadataUrl(below);
        return AddPreparingTask(id, box, isFolder);
    }
    CTaskInfo AddPreparingTask(const std::string& id, const BoxFileInfo& box, bool isFolder) {
        CTaskInfo task = AddLinkTask(id);
        task.is_folder = isFolder;
        task.box_file = box;
        task.state = kStatePreparing;
        m_tasks->UpdateTask(task);
        return task;
    }

    // The link file "one.bin", whose downloads the service counts; the path is learned later.
    CTaskInfo AddCountedFileTask(const std::string& id) {
        BoxFileInfo box;
        box.metaurl = MetadataUrl("/one.bin");
        box.remaincounturl = Server().BaseUrl() + kRemainingPath;
        return AddPreparingTask(id, box, false);
    }

    // Runs the task's preparation to its end; what it handed on stays queued.
    void Prepare(const CTaskInfo& task) {
        ASSERT_TRUE(m_pipeline.StartPrepare(task));
        ASSERT_TRUE(WaitUntil([&] { return !CPrepareTaskWorker::IsPreparing(task.task_id); }));
    }

    // The requests whose path starts with `prefix`, in arrival order.
    std::vector<parvex_service::RecordedRequest> RequestsTo(const std::string& prefix) const {
        std::vector<parvex_service::RecordedRequest> found;
        for (const auto& request : m_server->Requests()) {
            if (request.path.starts_with(prefix)) {
                found.push_back(request);
            }
        }
        return found;
    }

    // The task failed with the code and, when given, the message, and kept no sub-task.
    void ExpectFailed(const std::string& taskId, int code,
                      const std::optional<std::string>& message) {
        const CTaskInfo task = TaskOf(taskId);
        EXPECT_EQ(task.state, kStateError);
        EXPECT_EQ(task.error_code, code);
        if (message) {
            EXPECT_EQ(task.error_info, *message);
        }
        EXPECT_EQ(task.sub_task_count, 0U);
    }
};

TEST_F(PrepareTest, LinkFolderIsFetchedByPagesAndHandedOnInGroupsOfTen) {
    StartService(R"([{"name": "Big", "generate": {"count": 250, "size": 10}}])");
    const CTaskInfo task = AddPreparingTask("T1", "/Big", true);

    Prepare(task);

    std::vector<std::string> offsets;
    for (const auto& request : RequestsTo(std::string(kMetadataPath) + "/Big")) {
        offsets.push_back(QueryOf(request, "offset"));
    }
    EXPECT_THAT(offsets, ElementsAre("0", "100", "200"));
    // 250 files and the folder: 25 full groups, then the last entry with the closing change.
    EXPECT_EQ(m_dispatcher->QueuedChangeCount(), 26U);
    EXPECT_EQ(TaskOf("T1").sub_task_count, 0U);

    Apply();
    const CTaskInfo prepared = TaskOf("T1");
    EXPECT_EQ(prepared.state, kStateWaiting);
    EXPECT_EQ(prepared.sub_task_count, 251U);
    EXPECT_EQ(prepared.size, 2500U);
    CSubTaskInfo sub;
    ASSERT_TRUE(m_tasks->GetSubTaskOf("T1", DownloadUrl("/Big/f249"), sub));
    EXPECT_EQ(sub.box_file.size, 10U);
    EXPECT_TRUE(m_tasks->GetSubTaskOf("T1", DownloadUrl("/Big"), sub));
    EXPECT_TRUE(sub.is_folder);
}

TEST_F(PrepareTest, SubFoldersAreWalkedAfterTheirParentWithTheTasksToken) {
    StartService(R"([
        {"name": "A", "children": [
            {"name": "a1", "size": 5},
            {"name": "A2", "children": [{"name": "deep", "size": 7}]}]},
        {"name": "x", "size": 3},
        {"name": "B", "children": [{"name": "b1", "size": 2}]}])");
    const CTaskInfo task = AddPreparingTask("T1", "", true);

    Prepare(task);

    std::vector<std::string> walked;
    for (const auto& request : RequestsTo(kMetadataPath)) {
        walked.push_back(request.path);
        EXPECT_EQ(QueryOf(request, "token"), m_token) << request.target;
    }
    const std::string root = kMetadataPath;
    EXPECT_THAT(walked, ElementsAre(root, root + "/A", root + "/B", root + "/A/A2"));

    Apply();
    const CTaskInfo prepared = TaskOf("T1");
    EXPECT_EQ(prepared.state, kStateWaiting);
    EXPECT_EQ(prepared.sub_task_count, 8U); // Root, A, x, B, a1, A2, b1, deep
    EXPECT_EQ(prepared.size, 17U);
    CSubTaskInfo deep;
    ASSERT_TRUE(m_tasks->GetSubTaskOf("T1", DownloadUrl("/A/A2/deep"), deep));
    EXPECT_EQ(deep.box_file.size, 7U);
}

TEST_F(PrepareTest, CountedLinkFileIsListedOnceAndItsBoxFileLearned) {
    StartService(R"([{"name": "one.bin", "size": 1234}])");
    Server().SetRemainingCount(kCode, 3);

    Prepare(AddCountedFileTask("T1"));
    Apply();

    EXPECT_EQ(RequestsTo(kRemainingPath).size(), 1U);
    EXPECT_EQ(RequestsTo(kMetadataPath).size(), 1U);
    const CTaskInfo prepared = TaskOf("T1");
    EXPECT_EQ(prepared.state, kStateWaiting);
    EXPECT_EQ(prepared.sub_task_count, 1U);
    EXPECT_EQ(prepared.box_file.path, DownloadUrl("/one.bin"));
    EXPECT_EQ(prepared.box_file.size, 1234U);
    CSubTaskInfo sub;
    ASSERT_TRUE(m_tasks->GetSubTaskOf("T1", DownloadUrl("/one.bin"), sub));
    EXPECT_EQ(sub.box_file.size, 1234U);
    EXPECT_FALSE(sub.is_folder);
}

TEST_F(PrepareTest, CountedLinkFileFailsWithoutAUsableCount) {
    StartService(R"([{"name": "one.bin", "size": 1234}])");
    struct Case {
        const char* label;
        int remaining;
        bool notJson;
        int code;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"no downloads left", 0, false, engine_code::kDownloadLimitReached,
         "The number of downloads of this link has reached a limit!"},
        {"reply not JSON", 3, true, service_code::kUnusableReply,
         "The service's reply could not be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Server().ClearFaults();
        Server().ClearRequests();
        Server().SetRemainingCount(kCode, c.remaining);
        if (c.notJson) {
            Server().AddFault(
                parvex_service::Fault::Make(kRemainingPath, parvex_service::FaultKind::NotJson));
        }

        Prepare(AddCountedFileTask(c.label));
        Apply();

        ExpectFailed(c.label, c.code, c.message);
        EXPECT_THAT(RequestsTo(kMetadataPath), IsEmpty());
    }
}

class PrepareRevisionTest : public PrepareTest {
protected:
    void SetUp() override {
        PrepareTest::SetUp();
        StartStorageService(R"([{"name": "docs", "children": [
            {"name": "plan.txt", "size": 700, "rev": "5",
             "revisions": [{"rev": "5", "size": 700}, {"rev": "4", "size": 650}]}]}])");
    }
    CTaskInfo AddRevisionTask(const std::string& id, const std::string& rev) {
        BoxFileInfo box;
        box.path = "/docs/plan.txt";
        box.pathtype = "ent";
        box.rev = rev;
        return AddPreparingTask(id, box, false);
    }
};

TEST_F(PrepareRevisionTest, ListedRevisionGivesTheFileAtThatRevision) {
    Prepare(AddRevisionTask("T1", "4"));
    Apply();

    const auto asked = RequestsTo("/v2/revisions/databox/docs/plan.txt");
    ASSERT_EQ(asked.size(), 1U);
    EXPECT_EQ(QueryOf(asked[0], "rev_limit"), "1000");
    const CTaskInfo prepared = TaskOf("T1");
    EXPECT_EQ(prepared.state, kStateWaiting);
    EXPECT_EQ(prepared.sub_task_count, 1U);
    CSubTaskInfo sub;
    ASSERT_TRUE(m_tasks->GetSubTaskOf("T1", "/docs/plan.txt", sub));
    EXPECT_EQ(sub.box_file.size, 650U);
}

TEST_F(PrepareRevisionTest, UnlistedRevisionFailsInTheSetLanguage) {
    struct Case {
        const char* language;
        const char* message;
    };
    const Case cases[] = {
        {"en", "Cann't find the information of the special version file"},
        {"zh", "未找到指定版本的文件信息"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        Settings().SetOption(kOptionLanguage, c.language);
        const std::string id = std::string("T-") + c.language;

        Prepare(AddRevisionTask(id, "3"));
        Apply();

        ExpectFailed(id, service_code::kNotFound, c.message);
    }
}

TEST_F(PrepareTest, PausingALargeWalkEndsItQuietly) {
    StartService(R"([{"name": "Huge", "generate": {"count": 3000, "size": 1}}])");
    Server().AddFault(parvex_service::Fault::Delay(kMetadataPath, 100));
    const CTaskInfo task = AddPreparingTask("T1", "/Huge", true);
    ASSERT_TRUE(m_pipeline.StartPrepare(task));
    ASSERT_TRUE(WaitUntil([&] { return !RequestsTo(kMetadataPath).empty(); }));

    m_pipeline.StopPrepare("T1");
    ASSERT_TRUE(WaitUntil([] { return !CPrepareTaskWorker::IsPreparing("T1"); }));
    Apply();

    // 3000 files take 31 pages; without the closing change the task is not Waiting.
    EXPECT_THAT(RequestsTo(kMetadataPath).size(), Lt(31U));
    const CTaskInfo paused = TaskOf("T1");
    EXPECT_EQ(paused.state, kStatePreparing);
    EXPECT_EQ(paused.error_code, 0);
}

TEST_F(PrepareTest, RefusedFolderWalkFailsTheTask) {
    StartService(R"([{"name": "Sub", "children": [{"name": "s1", "size": 4}]}])");
    struct Case {
        const char* label;
        const char* language;
        const char* below;
        std::optional<parvex_service::Fault> fault;
        int code;
        std::string message;
    };
    const std::string subPath = std::string(kMetadataPath) + "/Sub";
    const Case cases[] = {
        {"forbidden", "en", "",
         parvex_service::Fault::Error(kMetadataPath, "forbidden", "Not shared with you", 403),
         service_code::kForbidden, "Not shared with you"},
        {"forbidden sub-folder", "en", "",
         parvex_service::Fault::Error(subPath, "forbidden", "Not shared with you", 403),
         service_code::kForbidden, "Not shared with you"},
        {"not found", "en", "/Missing", std::nullopt, service_code::kNotFound,
         "No download permissions"},
        {"not found, Chinese", "zh", "/Missing", std::nullopt, service_code::kNotFound,
         "无下载权限"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Server().ClearFaults();
        if (c.fault) {
            Server().AddFault(*c.fault);
        }
        Settings().SetOption(kOptionLanguage, c.language);
        Prepare(AddPreparingTask(c.label, c.below, true));
        Apply();

        ExpectFailed(c.label, c.code, c.message);
    }
}
