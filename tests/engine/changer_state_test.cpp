#include "engine/changer_cleanup.h"
#include "engine/changer_fixture.h"
#include "engine/changer_new_tasks.h"
#include "engine/changer_prepare_task.h"
#include "engine/changer_task_fields.h"
#include "engine/changer_task_state.h"
#include "engine/changer_task_token.h"
#include "engine/state_transitions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

namespace {

// A folder last written long enough ago for the cleanup to take it.
void MakeOld(const std::string& folder) {
    std::filesystem::last_write_time(folder, std::filesystem::file_time_type::clock::now() -
                                                 std::chrono::minutes(2));
}

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
namespace fs = std::filesystem;

// Distinct task ids for the rows of a table.
std::string CaseId(std::size_t row) {
    return std::string(31, '0') + "0123456789ABCDEF"[row % 16];
}

TEST(StateTransitionsTest, OnlyTheEdgesOfTheTableAreAllowed) {
    struct Row {
        std::uint32_t from;
        std::uint32_t allowed;
    };
    const Row rows[] = {
        {kStateNone, 0xFF},
        {kStateWaitPreparing, kStateWaitPreparing | kStatePreparing | kStateWaiting | kStateError},
        {kStatePreparing, kStatePreparing | kStateWaiting | kStateError},
        {kStateWorking, kStateWorking | kStatePaused | kStateError | kStateCompleted | kStateStop},
        {kStatePaused, kStatePaused | kStateWaiting | kStateCompleted | kStateStop},
        {kStateWaiting,
         kStateWorking | kStatePaused | kStateWaiting | kStateError | kStateCompleted | kStateStop},
        {kStateError,
         kStateWaitPreparing | kStateWaiting | kStateError | kStateCompleted | kStateStop},
        {kStateCompleted, kStateCompleted},
        {kStateStop, kStateWaiting},
    };
    for (const Row& row : rows) {
        EXPECT_FALSE(IsStateChangeAllowed(row.from, kStateNone)) << row.from;
        for (std::uint32_t to = 1; to <= kStateStop; to <<= 1) {
            EXPECT_EQ(IsStateChangeAllowed(row.from, to), (row.allowed & to) != 0)
                << row.from << " -> " << to;
        }
    }
    EXPECT_FALSE(IsStateChangeAllowed(kStateWaiting, kStateWorking | kStatePaused));
}

class ChangeTaskStateTest : public ChangerTest {
protected:
    // Sub-task entries of a preparation for files (name, size).
    static std::vector<SubTaskSummary>
    Summaries(const std::vector<std::pair<std::string, std::uint64_t>>& files) {
        std::vector<SubTaskSummary> summaries;
        for (const auto& [name, size] : files) {
            SubTaskSummary summary;
            summary.path = SubPath(name);
            summary.size = size;
            summaries.push_back(summary);
        }
        return summaries;
    }
};

TEST_F(ChangeTaskStateTest, RequestsFollowTheTable) {
    struct Case {
        std::uint32_t from;
        bool withSubTasks;
        std::uint32_t request;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {kStateCompleted, true, kStateWaiting, kStateCompleted},
        {kStateWaiting, true, kStateWorking, kStateWorking},
        {kStateWorking, true, kStateWaitPreparing, kStateWorking},
        {kStateStop, true, kStatePaused, kStateStop},
        {kStateStop, true, kStateWaiting, kStateWaiting},
        // Without sub-tasks a start prepares the task first, also from Paused and Stop.
        {kStateError, false, kStateWaiting, kStateWaitPreparing},
        {kStatePaused, false, kStateWaiting, kStateWaitPreparing},
        {kStateStop, false, kStateWaiting, kStateWaitPreparing},
        // A pause or stop during the preparation waits for its end.
        {kStatePreparing, false, kStatePaused, kStatePreparing},
        {kStateWaitPreparing, false, kStateStop, kStateWaitPreparing},
        {kStatePreparing, false, kStateError, kStateError},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string id = CaseId(i);
        AddFolderTask(id, c.from);
        if (c.withSubTasks) {
            AddSubTasks(id, {{"f", kMiB}});
        }
        QueueNew<CChangerChangeTaskState>(id, c.request);
        Apply();
        EXPECT_EQ(StateOf(id), c.expected) << "row " << i;
    }
    QueueNew<CChangerChangeTaskState>(HexId('F'), kStateWaiting); // unknown: nothing happens
    Apply();
}

TEST_F(ChangeTaskStateTest, PreparationEndsInTheStateAskedForMeanwhile) {
    struct Case {
        std::vector<std::uint32_t> requests;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {{}, kStateWaiting},
        {{kStatePaused}, kStatePaused},
        {{kStateStop}, kStateStop},
        {{kStatePaused, kStateWaiting}, kStateWaiting},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string id = CaseId(i);
        AddFolderTask(id, kStateWaitPreparing);
        QueueNew<CChangerChangeTaskState>(id, kStatePreparing);
        for (const std::uint32_t request : cases[i].requests) {
            QueueNew<CChangerChangeTaskState>(id, request);
        }
        QueueNew<CChangerPrepareTask>(id, Summaries({{"a", kMiB}}), false);
        Apply();
        EXPECT_EQ(StateOf(id), kStatePreparing) << "row " << i;

        QueueNew<CChangerPrepareTask>(id, Summaries({{"b", 2 * kMiB}}), true);
        Apply();
        EXPECT_EQ(StateOf(id), cases[i].expected) << "row " << i;
        EXPECT_EQ(TaskOf(id).sub_task_count, 2u) << "row " << i;
    }
}

TEST_F(ChangeTaskStateTest, RestartedPreparationCountsOnlyWhatItFinds) {
    const std::string id = HexId('1');
    AddFolderTask(id, kStateWaitPreparing);
    AddSubTasks(id, {{"a", kMiB}, {"gone", 5 * kMiB}}); // left by an interrupted preparation

    QueueNew<CChangerChangeTaskState>(id, kStatePreparing);
    QueueNew<CChangerPrepareTask>(id, Summaries({{"a", kMiB}, {"b", 2 * kMiB}}), true);
    Apply();

    const CTaskInfo task = TaskOf(id);
    EXPECT_EQ(task.state, kStateWaiting);
    EXPECT_EQ(task.sub_task_count, 2u);
    EXPECT_EQ(task.size, 3 * kMiB);
}

TEST_F(ChangeTaskStateTest, LeftoverPreparationResultsAreIgnored) {
    const std::string id = HexId('1');
    AddFolderTask(id, kStateError);
    QueueNew<CChangerPrepareTask>(id, Summaries({{"a", kMiB}}), true);
    Apply();
    EXPECT_EQ(StateOf(id), kStateError);
    EXPECT_EQ(TaskOf(id).sub_task_count, 0u);
}

TEST_F(ChangeTaskStateTest, ResumeReturnsWorkingAndFailedSubTasksToWaiting) {
    const std::string id = HexId('1');
    AddFolderTask(id, kStatePaused);
    AddSubTasks(id, {{"working", kMiB}, {"failed", kMiB}, {"done", kMiB}, {"new", kMiB}});
    SetSubTask(id, "working", kStateWorking);
    SetSubTask(id, "failed", kStateError);
    SetSubTask(id, "done", kStateCompleted, "1");

    QueueNew<CChangerChangeTaskState>(id, kStateWaiting);
    Apply();

    EXPECT_EQ(StateOf(id), kStateWaiting);
    EXPECT_EQ(SubTaskOf(id, "working").state, kStateWaiting);
    EXPECT_EQ(SubTaskOf(id, "failed").state, kStateWaiting);
    EXPECT_EQ(SubTaskOf(id, "done").state, kStateCompleted);
    EXPECT_EQ(SubTaskOf(id, "new").state, kStateWaiting);
}

TEST_F(ChangeTaskStateTest, ResumingATaskWhoseFilesAllArrivedCompletesIt) {
    char digit = '1';
    for (const std::uint32_t from : {kStateStop, kStatePaused, kStateError}) {
        const std::string id = HexId(digit++);
        AddFolderTask(id, from);
        AddSubTasks(id, {{"f", kMiB}});
        SetSubTask(id, "f", kStateCompleted, "1");

        QueueNew<CChangerChangeTaskState>(id, kStateWaiting);
        Apply();
        EXPECT_EQ(StateOf(id), kStateCompleted) << from;
    }
}

TEST_F(ChangeTaskStateTest, APreparationRefreshesOnlyTheItemOfItsTask) {
    const std::string id = HexId('1');
    AddFolderTask(id, kStatePreparing);
    CTaskInfo before = TaskOf(id);
    BoxFileInfo box = before.box_file;
    box.size = 12345;
    box.neid = "n1";
    box.rev = "r1";

    QueueNew<CChangerTaskBoxFile>(id, box);
    Apply();
    CTaskInfo after = TaskOf(id);
    EXPECT_EQ(after.box_file, box);
    after.box_file = before.box_file;
    EXPECT_EQ(after, before) << "nothing else changes";
}

TEST_F(ChangeTaskStateTest, ARenewedTokenReachesTheTaskAndItsSubTasksButNeverReplacesANewerOne) {
    const std::string id = HexId('1');
    CTaskInfo task = AddFolderTask(id, kStateError);
    const std::string address = task.box_file.metaurl;
    task.box_file.metaurl = address + "?token=OLD";
    m_tasks->UpdateTask(task);
    AddSubTasks(id, {{"worked.bin", 10}, {"waiting.bin", 20}});
    CSubTaskInfo worked = SubTaskOf(id, "worked.bin");
    worked.state = kStateError;
    m_tasks->FindTask(id)->StoreSubTask(worked); // kept with its details, the old token in them

    QueueNew<CChangerTaskToken>(id, "OLD", "NEW");
    Apply();
    EXPECT_EQ(TaskOf(id).box_file.metaurl, address + "?token=NEW");
    for (const char* name : {"worked.bin", "waiting.bin"}) {
        EXPECT_EQ(SubTaskOf(id, name).box_file.metaurl, address + "?token=NEW") << name;
    }
    EXPECT_EQ(SubTaskOf(id, "worked.bin").state, kStateError) << "only the address changes";
    EXPECT_EQ(StateOf(id), kStateError);

    // A renewal of a token replaced meanwhile (the link was added again) changes nothing.
    QueueNew<CChangerTaskToken>(id, "OLD", "LATE");
    Apply();
    EXPECT_EQ(SubTaskOf(id, "worked.bin").box_file.metaurl, address + "?token=NEW");
}

TEST_F(ChangeTaskStateTest, ALinkAddedAgainGivesItsTokenAndPasswordAndStartsTheTaskUnlessItRuns) {
    struct Case {
        std::uint32_t from;
        std::uint32_t to;
    };
    const Case cases[] = {{kStateError, kStateWaiting},
                          {kStatePaused, kStateWaiting},
                          {kStateStop, kStateWaiting},
                          {kStateWorking, kStateWorking},
                          {kStatePreparing, kStatePreparing}};
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const Case& c = cases[row];
        const std::string id = CaseId(row);
        AddFolderTask(id, c.from);
        AddSubTasks(id, {{"f.bin", 10}});
        QueueNew<CChangerRenewLinkTask>(id, "ADDED", "pw");
        Apply();
        const CTaskInfo task = TaskOf(id);
        EXPECT_EQ(task.state, c.to) << c.from;
        EXPECT_TRUE(task.box_file.metaurl.ends_with("/Root?token=ADDED")) << task.box_file.metaurl;
        EXPECT_EQ(task.pass, "pw") << c.from;
    }
}

TEST_F(ChangeTaskStateTest, PauseStopsTheTaskWorkers) {
    const std::string id = HexId('1');
    AddFolderTask(id, kStateWorking);
    m_workers.StartPartWorker(RangeRequest{id, SubPath("f"), kMiB, {}, 0, kMiB, {}});
    m_workers.StartPartWorker(RangeRequest{HexId('2'), SubPath("f"), kMiB, {}, 0, kMiB, {}});

    QueueNew<CChangerChangeTaskState>(id, kStatePaused);
    Apply();

    EXPECT_EQ(StateOf(id), kStatePaused);
    EXPECT_THAT(m_workers.StoppedPrepare(), ElementsAre(id));
    ASSERT_EQ(m_workers.LiveRanges().size(), 1u);
    EXPECT_EQ(m_workers.LiveRanges()[0].taskId, HexId('2'));
}

TEST_F(ChangeTaskStateTest, DeleteRemovesTheTaskItsFilesAndOrphanFolders) {
    m_tasks->LoadAll();
    const std::string id = HexId('1');
    const std::string other = HexId('2');
    AddFolderTask(id, kStateWorking);
    AddSubTasks(
        id, {{"working", kMiB}, {"failed", kMiB}, {"waiting", kMiB}, {"done", kMiB}, {"dir", -1}});
    SetSubTask(id, "working", kStateWorking);
    SetSubTask(id, "failed", kStateError);
    SetSubTask(id, "done", kStateCompleted, "1");
    AddFolderTask(other, kStateWaiting);
    m_workers.StartPartWorker(RangeRequest{id, SubPath("working"), kMiB, {}, 0, kMiB, {}});

    const std::string orphan = m_dir.File(HexId('3'));
    fs::create_directories(orphan + "/inner");
    MakeOld(orphan);
    const std::vector<std::string> kept = {
        m_dir.File(std::string(32, 'a')),       // not a name the engine makes
        m_dir.File(std::string(31, 'A') + "G"), // not hex
        m_dir.File(std::string(33, 'A')),       // too long
    };
    for (const std::string& folder : kept) {
        fs::create_directories(folder);
    }
    const std::string file = m_dir.File(HexId('4'));
    testing_support::WriteFile(file, "not a folder");
    ASSERT_TRUE(fs::exists(m_dir.File(id)));

    QueueNew<CChangerChangeTaskState>(id, CChangerChangeTaskState::kDelete);
    Apply();

    EXPECT_EQ(m_tasks->FindTask(id), nullptr);
    EXPECT_FALSE(fs::exists(m_dir.File(id)));
    EXPECT_THAT(m_workers.StoppedPrepare(), ElementsAre(id));
    EXPECT_THAT(m_workers.LiveRanges(), IsEmpty());
    EXPECT_THAT(m_workers.DeletedTemp(),
                UnorderedElementsAre(SubPath("working"), SubPath("failed"), SubPath("waiting")));
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(m_dir.File(other)));
    for (const std::string& folder : kept) {
        EXPECT_TRUE(fs::exists(folder)) << folder;
    }
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(ChangeTaskStateTest, CleanupWaitsUntilTheTasksAreLoaded) {
    const std::string orphan = m_dir.File(HexId('3'));
    fs::create_directories(orphan);
    MakeOld(orphan);
    // A task being added elsewhere has its folder before the container knows it.
    const std::string fresh = m_dir.File(HexId('5'));
    fs::create_directories(fresh);

    QueueNew<CChangerDeleteTmpFile>();
    Apply();
    EXPECT_TRUE(fs::exists(orphan));

    m_tasks->LoadAll();
    QueueNew<CChangerDeleteTmpFile>();
    Apply();
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(fresh));
}

TEST_F(ChangeTaskStateTest, AddNewTaskSkipsTheSameTaskAndNamesANewOne) {
    const CTaskInfo existing = AddFolderTask(HexId('1'), kStateWaiting);
    CTaskInfo same = existing;
    same.task_id.clear();
    same.add_time = kStart + 1;
    CTaskInfo fresh = same;
    fresh.local_file.path = m_dir.File("save/other");

    QueueNew<CChangerAddNewTask>(same);
    QueueNew<CChangerAddNewTask>(fresh);
    Apply();

    EXPECT_THAT(m_tasks->ListTasks(0xFF),
                UnorderedElementsAre(existing.task_id, fresh.MakeTaskId()));
    EXPECT_EQ(TaskOf(fresh.MakeTaskId()).local_file.path, fresh.local_file.path);
}

TEST_F(ChangeTaskStateTest, FinishedPreparationLocksASingleProtectedFile) {
    struct Case {
        const char* password;
        bool folder;
        std::size_t files;
        bool locked;
    };
    const Case cases[] = {
        {"secret", false, 1, true},
        {"", false, 1, false},
        {"secret", true, 1, false},
        {"secret", false, 2, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string id = CaseId(i);
        CTaskInfo task = AddFolderTask(id, kStatePreparing);
        task.pass = c.password;
        task.is_folder = c.folder;
        m_tasks->UpdateTask(task);
        std::vector<std::pair<std::string, std::uint64_t>> files = {{"a", kMiB}, {"b", kMiB}};
        files.resize(c.files);

        QueueNew<CChangerPrepareTask>(id, Summaries(files), true);
        Apply();

        EXPECT_EQ(TaskOf(id).new_box_path, c.locked ? std::string(kBase) + ".lock" : "")
            << "row " << i;
    }
}

TEST_F(ChangeTaskStateTest, FieldChangersReachTheTaskAndItsWorkingAndFailedSubTasks) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<CTaskInfoChangerBase>(const std::string&)> make;
        std::function<std::string(const CTaskInfo&)> taskField;
        std::function<std::string(const CSubTaskInfo&)> subField;
        std::string taskValue;
        std::string subValue;
    };
    const Case cases[] = {
        {"sectrans",
         [](const std::string& id) { return std::make_unique<CChangerSecTransFlag>(id, true); },
         [](const CTaskInfo& t) { return std::to_string(t.is_sectrans); },
         [](const CSubTaskInfo& s) { return std::to_string(s.is_sectrans); }, "1", "1"},
        {"data server",
         [](const std::string& id) {
             return std::make_unique<CChangerDataServerHost>(id, "https://data.test");
         },
         [](const CTaskInfo& t) { return t.task_data_server; },
         [](const CSubTaskInfo& s) { return s.data_server; }, "https://data.test",
         "https://data.test"},
        {"transmethod",
         [](const std::string& id) { return std::make_unique<CChangerTaskTransMethod>(id, 3); },
         [](const CTaskInfo& t) {
             return std::to_string(t.transmethod) + "/" + std::to_string(t.rsyncstate);
         },
         [](const CSubTaskInfo& s) {
             return std::to_string(s.transmethod) + "/" + std::to_string(s.rsyncstate) + "/" +
                    std::string(TaskStateName(s.state));
         },
         "3/1", "3/1/StateWaiting"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string id = CaseId(i);
        AddFolderTask(id, kStateWorking);
        AddSubTasks(id, {{"working", kMiB}, {"failed", kMiB}, {"waiting", kMiB}});
        SetSubTask(id, "working", kStateWorking);
        SetSubTask(id, "failed", kStateError);
        const std::string untouched = c.subField(SubTaskOf(id, "waiting"));

        QueueChange(c.make(id));
        Apply();

        EXPECT_EQ(c.taskField(TaskOf(id)), c.taskValue) << c.name;
        EXPECT_EQ(c.subField(SubTaskOf(id, "working")), c.subValue) << c.name;
        EXPECT_EQ(c.subField(SubTaskOf(id, "failed")), c.subValue) << c.name;
        EXPECT_EQ(c.subField(SubTaskOf(id, "waiting")), untouched) << c.name;
    }
}

} // namespace
