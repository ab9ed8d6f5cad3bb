#include "pipeline/pipeline_fixture.h"

#include "engine/task_entry.h"

#include <sstream>

using testing_support::WaitUntil;

void PipelineTest::StartService(const std::string& rootChildren, const std::string& extraLinks) {
    SetTransferWorkers(&m_pipeline);
    Settings().SetOption(kOptionLanguage, "en");
    const std::string json = std::string(R"({"links": [{"code": ")") + kCode +
                             R"(", "password": "pw", "item": {"name": "Root", "children": )" +
                             rootChildren + "}}" + extraLinks + "]}";
    parvex_service::Scenario scenario;
    std::string error;
    ASSERT_TRUE(parvex_service::ParseScenario(json, scenario, error)) << error;
    m_server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
    ASSERT_TRUE(m_server->Start()) << m_server->LastError();
    m_token = m_server->Token(kCode);
}

void PipelineTest::StartStorageService(const std::string& storageItems) {
    SetTransferWorkers(&m_pipeline);
    parvex_service::Scenario scenario;
    std::string error;
    ASSERT_TRUE(parvex_service::ParseScenario(R"({"storage": {"items": )" + storageItems + "}}",
                                              scenario, error))
        << error;
    m_server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
    ASSERT_TRUE(m_server->Start()) << m_server->LastError();
    Settings().SetOption(kOptionServiceAddress, m_server->BaseUrl());
}

void PipelineTest::TearDown() {
    for (const std::string& id : m_tasks->ListTasks(0xFFFFFFFF)) {
        CDownloadPartWorker::StopPartWorkers(id);
        CPrepareTaskWorker::StopPrepare(id);
        EXPECT_TRUE(WaitUntil([&id] { return !CPrepareTaskWorker::IsPreparing(id); }));
    }
    EXPECT_TRUE(WaitForWorkers());
    ReapFinishedWorkers();
    if (m_server != nullptr) {
        m_server->Stop();
    }
    RuntimeTest::TearDown();
}

std::string PipelineTest::DownloadUrl(const std::string& below) const {
    return m_server->BaseUrl() + "/v2/delivery/download/" + kCode + below;
}

std::string PipelineTest::MetadataUrl(const std::string& below) const {
    return m_server->BaseUrl() + "/v2/delivery/metadata/" + kCode + below + "?token=" + m_token;
}

CTaskInfo PipelineTest::AddLinkTask(const std::string& id) {
    CTaskInfo task = AddFolderTask(id, kStateWorking);
    task.box_file.path = DownloadUrl("");
    task.box_file.metaurl = MetadataUrl("");
    task.local_file.path = m_dir.File("save/Root");
    m_tasks->UpdateTask(task);
    return task;
}

void PipelineTest::RunRange(const std::string& taskId, const std::string& name, std::uint64_t start,
                            std::uint64_t end) {
    CSubTaskInfo sub;
    ASSERT_TRUE(m_tasks->GetSubTaskOf(taskId, DownloadUrl("/" + name), sub)) << name;
    m_pipeline.StartPartWorker(
        RangeRequest{taskId, sub.sub_task_path, 1048576, sub.box_file, start, end, sub.validator});
    ASSERT_TRUE(WaitForWorkers());
    Apply();
}

bool PipelineTest::WaitForWorkers(std::chrono::seconds limit) const {
    return WaitUntil(
        [] {
            return CDownloadPartWorker::CountPartWorkers(std::string()) == 0 &&
                   CTaskFile::OpenFileCount() == 0;
        },
        limit);
}

std::string PipelineTest::Expected(const std::string& name, std::uint64_t size) const {
    return parvex_service::FileContent(kCode, "/Root/" + name, 0, size);
}

std::string PipelineTest::ETagOf(const std::string& name, bool replaced) const {
    const std::uint64_t seed = parvex_service::ContentSeed(kCode, "/Root/" + name);
    return parvex_service::ContentETag(replaced ? parvex_service::ReplacedContentSeed(seed) : seed);
}

std::vector<std::string> PipelineTest::DownloadHeaders(const std::string& name,
                                                       const std::string& header) const {
    std::vector<std::string> values;
    for (const auto& request : m_server->Requests()) {
        if (request.path == "/v2/delivery/download/" + std::string(kCode) + "/" + name) {
            values.push_back(request.Header(header));
        }
    }
    return values;
}

std::vector<std::string> PipelineTest::RangesOf(const std::string& name) const {
    return DownloadHeaders(name, "x-varnokws-range");
}

std::vector<std::string> PipelineTest::IfRangesOf(const std::string& name) const {
    return DownloadHeaders(name, "If-Range");
}
