#include "pipeline/pipeline_fixture.h"

#include "engine/action_record.h"
#include "engine/change_queue.h"
#include "engine/changer_sub_task_progress.h"
#include "engine/send_action_record_worker.h"
#include "engine/statistics_config.h"

#include <filesystem>

namespace {

using parvex_service::Fault;
using testing_support::ReadFile;
using testing_support::WaitUntil;

constexpr std::uint64_t kFileSize = 5 * kMiB;

class WorkerRaceTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        StartService(R"([{"name": "c.bin", "size": 5242880}])");
        AddLinkTask("T1");
        AddSubTasks("T1", {{"c.bin", kFileSize}}, DownloadUrl(""));
    }
    CSubTaskInfo Sub() const {
        CSubTaskInfo sub;
        m_tasks->GetSubTaskOf("T1", DownloadUrl("/c.bin"), sub);
        return sub;
    }
    // A part worker for the whole file whose stream sends 64 KiB every `pauseMs`.
    void StartSlowWorker(int pauseMs) {
        Server().AddFault(Fault::SlowBody("/v2/delivery/download/P1/c.bin", pauseMs, 65536));
        const CSubTaskInfo sub = Sub();
        m_pipeline.StartPartWorker(
            RangeRequest{"T1", sub.sub_task_path, 1048576, sub.box_file, 0, kFileSize, {}});
    }
};

// The last parts of a file can be reported by one worker while another one still fetches parts
// that are already recorded (a range fetched again after a quick pause and resume).
TEST_F(WorkerRaceTest, AWorkerStillRunningWhenItsFileFinishesLeavesNoTemporaryFile) {
    StartSlowWorker(20);
    ASSERT_TRUE(WaitUntil([] { return CTaskFile::OpenFileCount() > 0; })) << "worker attached";

    // Another worker has written every part and reports them.
    const CSubTaskInfo sub = Sub();
    const std::string content = Expected("c.bin", kFileSize);
    {
        CTaskFile other;
        ASSERT_TRUE(other.Attach("T1", sub.sub_task_path));
        const WrittenPart written = other.WriteAt(content.data(), content.size(), 0);
        ASSERT_EQ(written.bytes, static_cast<std::int64_t>(content.size()));
        ASSERT_TRUE(other.SyncThrough(written.sequence));
    }
    auto report = std::make_unique<CChangerSubTaskProgress>("T1", sub.sub_task_path);
    for (std::size_t part = 0; part < kFileSize / kMiB; ++part) {
        report->doneParts.Set(part);
    }
    report->state = kStateWorking;
    QueueChange(std::move(report));
    Apply();
    ASSERT_EQ(Sub().state, kStateCompleted);

    ASSERT_TRUE(WaitForWorkers());
    Apply();
    EXPECT_FALSE(std::filesystem::exists(TempFilePath(sub.local_file.path)))
        << "a temporary file was made again next to the finished file";
    EXPECT_EQ(RangesOf("c.bin").size(), 1u) << "a finished file is not fetched again";
    EXPECT_TRUE(ReadFile(sub.local_file.path) == content);
}

// Deleting a task stops its workers, deletes the temporary files and then removes the task. A
// worker whose range request was answered just before its stop attaches in between.
TEST_F(WorkerRaceTest, AWorkerAttachingWhileItsTaskIsDeletedLeavesNoTemporaryFile) {
    const CSubTaskInfo sub = Sub();
    CTaskInfo task = TaskOf("T1");
    task.SetState(kStateStop);
    m_tasks->UpdateTask(task);
    m_pipeline.StopPartWorkers("T1");
    m_pipeline.DeleteTempFile(sub);
    {
        CTaskFile late;
        late.Attach("T1", sub.sub_task_path);
        // The worker sees its stop and releases the file.
    }
    m_tasks->RemoveTask("T1", false);
    EXPECT_FALSE(std::filesystem::exists(TempFilePath(sub.local_file.path)))
        << "the deleted task's temporary file is back, at full size, for good";
}

// The engine's statistics worker, sending its records to the local service.
class FailureReportTest : public WorkerRaceTest {
protected:
    void SetUp() override {
        WorkerRaceTest::SetUp();
        Settings().SetOption(kOptionServiceAddress, Server().BaseUrl());
        SetStatisticsConfig({"127.0.0.1", Server().BaseUrl()});
        m_statistics.SetAutoDelete(false);
        ASSERT_TRUE(m_statistics.Start());
        GetEngineContext().statisticsWorker.store(&m_statistics);
    }
    void TearDown() override {
        GetEngineContext().statisticsWorker.store(nullptr);
        m_statistics.Terminate();
        SetStatisticsConfig(m_saved);
        WorkerRaceTest::TearDown();
    }
    // The statistics requests' targets, once a marker record sent after everything else arrived.
    std::vector<std::string> ReportsUpToMarker() {
        ReportSuccess(kActionDownload, "/marker", 1, 1);
        std::vector<std::string> reports;
        EXPECT_TRUE(WaitUntil([&] {
            reports.clear();
            for (const auto& request : Server().Requests()) {
                if (request.path == "/st.gif") {
                    reports.push_back(request.target);
                }
            }
            return !reports.empty() && reports.back().find("path=/marker") != std::string::npos;
        }));
        return reports;
    }

    const StatisticsConfig m_saved = GetStatisticsConfig();
    CSendActionRecordWorker m_statistics;
};

// A pause cancels the worker's read; that is not a failed download.
TEST_F(FailureReportTest, APauseIsNotReportedAsAFailedDownload) {
    // Once the first bytes arrived, the worker waits half a second for the next ones.
    GetEngineContext().speedMeter.Remove("T1"); // samples of earlier tests
    StartSlowWorker(500);
    ASSERT_TRUE(WaitUntil([] { return GetEngineContext().speedMeter.GetSpeed("T1") > 0; }));
    m_pipeline.StopPartWorkers("T1");
    ASSERT_TRUE(WaitForWorkers());
    for (const std::string& target : ReportsUpToMarker()) {
        EXPECT_EQ(target.find("state=er_dl"), std::string::npos) << target;
    }
}

// A converted document whose conversion never ends gets no download address.
TEST_F(PipelineTest, ALinkFolderFileWithoutAnAddressIsNotSilentlyLeftOut) {
    StartService(R"([{"name": "doc.docx", "size": 100, "converted": {"size": 50, "polls": 1000}},
                     {"name": "x.bin", "size": 3}])");
    CTaskInfo task = AddLinkTask("T1");
    task.state = kStatePreparing;
    m_tasks->UpdateTask(task);

    ASSERT_TRUE(m_pipeline.StartPrepare(task));
    ASSERT_TRUE(WaitUntil([] { return !CPrepareTaskWorker::IsPreparing("T1"); }));
    Apply();

    const CTaskInfo prepared = TaskOf("T1");
    // The folder, x.bin and the document; or a failed preparation.
    EXPECT_TRUE(prepared.sub_task_count == 3 || prepared.state == kStateError)
        << "the task would complete without the document: " << prepared.sub_task_count
        << " sub-tasks, state " << prepared.state;
}

} // namespace
