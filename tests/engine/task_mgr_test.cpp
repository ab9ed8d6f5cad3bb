#include "engine/task_mgr.h"

#include "engine/hex_text.h"
#include "engine/part_layout.h"

#include "engine/record_print.h"
#include "engine/retry_time.h"
#include "engine/task_mgr_events.h"
#include "store/db_rows.h"
#include "store/store_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::SizeIs;

constexpr std::uint64_t kMiB = 1048576;

class RecordingEvents : public ITaskMgrEvents {
public:
    void AddChangedTaskId(const std::string& groupId, const std::string& taskId) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changed.push_back(groupId + "/" + taskId);
    }
    void AddChangedSubTaskId(const std::string& taskId, const std::string& path) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changedSubTasks.push_back(taskId + ":" + path);
    }
    void QueueDeleteTaskDb(const std::string& taskId) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deleteDb.push_back(taskId);
    }
    std::vector<std::string> Changed() const { return Copy(m_changed); }
    std::vector<std::string> ChangedSubTasks() const { return Copy(m_changedSubTasks); }
    std::vector<std::string> DeleteDb() const { return Copy(m_deleteDb); }

private:
    std::vector<std::string> Copy(const std::vector<std::string>& v) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return v;
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_changed;
    std::vector<std::string> m_changedSubTasks;
    std::vector<std::string> m_deleteDb;
};

// A task id for a short name: stored ids are read back only when they are 32 upper-case
// hexadecimal digits.
std::string Id(std::string_view name) {
    std::string id = MakeHex(name);
    id.resize(32, '0');
    return id;
}

CTaskInfo Task(const std::string& id, std::uint32_t state = kStateWaiting,
               std::uint64_t addTime = 1000) {
    CTaskInfo task;
    task.task_id = id;
    task.state = state;
    task.priority = 3;
    task.add_time = addTime;
    task.group_id = "G";
    task.is_folder = true;
    task.box_file.path = "/Docs";
    task.box_file.pathtype = "ent";
    task.box_file.metaurl = "https://svc.test/v2/delivery/metadata/CODE/Docs?token=SECRET";
    task.local_file.path = "/save/" + id;
    return task;
}

class TaskMgrTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        m_mgr = std::make_unique<CTaskMgr>(&m_events);
    }
    void TearDown() override {
        m_mgr.reset();
        StoreTest::TearDown();
    }

    // A fresh container on the same data folder, as after a restart.
    void Restart() {
        m_mgr.reset();
        m_mgr = std::make_unique<CTaskMgr>(&m_events);
        m_mgr->LoadAll();
    }

    // A folder task with the given sub-tasks (path, size), committed to its store.
    std::shared_ptr<CTaskEntry> FolderTask(const std::string& id,
                                           std::vector<std::pair<std::string, std::uint64_t>> subs,
                                           std::uint32_t state = kStateWorking) {
        auto entry = m_mgr->AddTask(Task(id, state), false, true);
        for (const auto& [path, size] : subs) {
            entry->AddSubTask(path, size, false, "fp-" + path);
        }
        entry->CommitSubTasks();
        m_mgr->UpdateTask(entry->Info()); // as the end of a preparation does
        return entry;
    }

    // Marks parts of a sub-task as received and stores it in the given state.
    void Store(CTaskEntry& entry, const std::string& path, std::uint32_t state,
               std::initializer_list<std::size_t> parts = {}) {
        CSubTaskInfo sub;
        ASSERT_TRUE(entry.GetSubTask(path, sub));
        // Sized to the file's parts, as the engine records them.
        sub.trans_bitmap.Resize(static_cast<std::size_t>(PartCount(sub.size, PartSizeFor(false))));
        for (const std::size_t part : parts) {
            sub.trans_bitmap.Set(part);
        }
        sub.state = state;
        entry.StoreSubTask(sub);
    }

    RecordingEvents m_events;
    std::unique_ptr<CTaskMgr> m_mgr;
};

TEST_F(TaskMgrTest, AddTaskRefusesEmptyAndRepeatedIds) {
    EXPECT_EQ(m_mgr->AddTask(Task(""), true, true), nullptr);
    ASSERT_NE(m_mgr->AddTask(Task("A"), true, true), nullptr);
    CTaskInfo again = Task("A", kStatePaused);
    again.local_file.path = "/elsewhere";
    EXPECT_EQ(m_mgr->AddTask(again, true, true), nullptr);

    CTaskInfo stored;
    ASSERT_TRUE(m_mgr->GetTask("A", stored));
    EXPECT_EQ(stored, Task("A"));
    EXPECT_THAT(m_events.Changed(), ElementsAre("G/A"));
    EXPECT_EQ(m_log.Count("AddChangedTaskId:id:A;state:StateWaiting"), 1u);
    EXPECT_EQ(m_mgr->TaskStore().StagedCount(), 1u);
    EXPECT_TRUE(std::filesystem::exists(m_dir.File("A/subtasks.db")));

    // Without notify and save the task is only in memory.
    ASSERT_NE(m_mgr->AddTask(Task("B"), false, false), nullptr);
    EXPECT_THAT(m_events.Changed(), SizeIs(1));
    EXPECT_EQ(m_mgr->TaskStore().StagedCount(), 1u);
    EXPECT_FALSE(m_mgr->GetTask("nope", stored));
}

TEST_F(TaskMgrTest, ANewTaskOfTheSameItemInTheSameMillisecondGetsAnIdOfItsOwn) {
    BoxFileInfo box;
    box.path = "https://svc.test/v2/delivery/download/CODE/f.bin";
    CTaskInfo first = MakeTaskInfo(box, "/save/f.bin");
    CTaskInfo second = first; // a second run of a script, the first task completed
    ASSERT_NE(m_mgr->AddNewTask(first, false), nullptr);
    ASSERT_NE(m_mgr->AddNewTask(second, false), nullptr);
    EXPECT_NE(second.task_id, first.task_id);
    EXPECT_EQ(second.add_time, first.add_time + 1);
    EXPECT_EQ(second.task_id, second.MakeTaskId());
    CTaskInfo empty;
    EXPECT_EQ(m_mgr->AddNewTask(empty, false), nullptr);
}

TEST_F(TaskMgrTest, TasksSortByPriorityTimesAddTimeThenById) {
    m_mgr->AddTask(Task("Z-old", kStateWaiting, 1000), false, false); // key 3000
    m_mgr->AddTask(Task("A-new", kStateWaiting, 2000), false, false); // key 6000
    m_mgr->AddTask(Task("M-new", kStateWaiting, 2000), false, false); // key 6000
    std::vector<std::string> ids{"gone", "M-new", "A-new", "Z-old", "also-gone"};
    m_mgr->SortTasks(ids);
    EXPECT_THAT(ids, ElementsAre("Z-old", "A-new", "M-new", "also-gone", "gone"));
}

TEST_F(TaskMgrTest, ListsSelectByStateGroupAndDirection) {
    CTaskInfo upload = Task("U", kStateWorking);
    upload.is_upload = true;
    CTaskInfo other = Task("O", kStatePaused);
    other.group_id = "H";
    m_mgr->AddTask(upload, false, false);
    m_mgr->AddTask(other, false, false);
    m_mgr->AddTask(Task("D", kStateWaiting), false, false);
    m_mgr->AddTask(Task("C", kStateWorking), false, false);

    EXPECT_THAT(m_mgr->ListTasks(kStateWorking | kStateWaiting), ElementsAre("C", "D", "U"));
    EXPECT_THAT(m_mgr->ListTasks(0xFF), ElementsAre("C", "D", "O", "U"));
    EXPECT_THAT(m_mgr->ListGroupTasks("H", 0xFF), ElementsAre("O"));
    EXPECT_THAT(m_mgr->ListUploadTasks(0xFF), ElementsAre("U"));
    EXPECT_THAT(m_mgr->ListDownloadTasks(kStateWorking), ElementsAre("C"));
}

TEST_F(TaskMgrTest, DataServerIsTheTasksOwnElseTheDefault) {
    Settings().SetOption(kOptionDefaultDataServer, "https://default.test");
    CTaskInfo own = Task("OWN");
    own.data_server = "https://own.test";
    m_mgr->AddTask(own, false, false);
    m_mgr->AddTask(Task("PLAIN"), false, false);
    EXPECT_EQ(m_mgr->GetDataServer("OWN"), "https://own.test");
    EXPECT_EQ(m_mgr->GetDataServer("PLAIN"), "https://default.test");
    EXPECT_EQ(m_mgr->GetDataServer("unknown"), "https://default.test");
}

TEST_F(TaskMgrTest, SameTaskIsAnUnfinishedDownloadToTheSamePathOrUploadOfTheSameItem) {
    m_mgr->AddTask(Task("done", kStateCompleted), false, false);
    CTaskInfo upload = Task("up", kStateWaiting);
    upload.is_upload = true;
    upload.local_file.path = "/local/up";
    upload.box_file.path = "/Up";
    m_mgr->AddTask(upload, false, false);
    m_mgr->AddTask(Task("dl", kStatePaused), false, false);

    CTaskInfo probe = Task("new");
    probe.local_file.path = "/save/done"; // only a completed task has it
    EXPECT_EQ(m_mgr->GetSameTask(probe), nullptr);
    probe.local_file.path = "/save/dl";
    EXPECT_EQ(m_mgr->GetSameTask(probe), m_mgr->FindTask("dl"));
    probe.local_file.path = "/other";
    probe.box_file = upload.box_file; // the upload's item, whatever the local path
    EXPECT_EQ(m_mgr->GetSameTask(probe), m_mgr->FindTask("up"));
    EXPECT_THAT(m_log.Errors(), ElementsAre(HasSubstr("GetSameTask:oldTask:{")));
    EXPECT_EQ(m_log.Count("SECRET"), 0u);
}

TEST_F(TaskMgrTest, SubTasksMoveBetweenCollectionsAndKeepTheCounters) {
    auto entry = FolderTask("T", {{"/Docs/a", 3 * kMiB}, {"/Docs/b", 2 * kMiB}, {"/Docs/c", 5}});
    entry->AddSubTask("/Docs/a", 99, false, "again"); // a repeated path changes nothing
    CTaskInfo task = entry->Info();
    EXPECT_EQ(task.sub_task_count, 3u);
    EXPECT_EQ(task.size, 5 * kMiB + 5);

    Store(*entry, "/Docs/a", kStateWorking, {0, 2});
    entry->SetSubTaskBytes("/Docs/a", 2 * kMiB);
    Store(*entry, "/Docs/b", kStateCompleted);
    entry->SetSubTaskBytes("/Docs/b", 2 * kMiB);
    entry->SetSubTaskBytes("/Docs/b", 2 * kMiB); // the same sub-task again replaces its bytes

    task = entry->Info();
    EXPECT_EQ(task.complete_sub_task_count, 1u);
    EXPECT_EQ(task.complete_bytes, 4 * kMiB);
    EXPECT_EQ(entry->CompletedCount(), 1u);
    EXPECT_THAT(m_events.ChangedSubTasks(), ElementsAre("T:/Docs/a", "T:/Docs/b"));

    CSubTaskInfo sub;
    ASSERT_TRUE(entry->GetSubTask("/Docs/a", sub));
    EXPECT_EQ(sub.task_id, "T");
    EXPECT_EQ(sub.state, kStateWorking);
    EXPECT_TRUE(sub.trans_bitmap.Test(2));
    EXPECT_EQ(sub.local_file.path, "/save/T/a");
    ASSERT_TRUE(entry->GetSubTask("/Docs/b", sub));
    EXPECT_EQ(sub.state, kStateCompleted);
    ASSERT_TRUE(entry->GetSubTask("/Docs/c", sub));
    EXPECT_EQ(sub.state, kStateWaiting);
    EXPECT_EQ(sub.box_file.rev, "fp-/Docs/c");
    EXPECT_FALSE(entry->GetSubTask("/Docs/none", sub));

    // Completed first, then the active ones in the mask, then those without details.
    EXPECT_THAT(entry->ListSubTasks(0xFF, 7, 0, -1), ElementsAre("/Docs/b", "/Docs/a", "/Docs/c"));
    EXPECT_THAT(entry->ListSubTasks(kStateWaiting, 7, 0, -1), ElementsAre("/Docs/c"));
    EXPECT_THAT(entry->ListSubTasks(kStateWorking, 7, 0, -1), ElementsAre("/Docs/a"));
    EXPECT_THAT(entry->ListSubTasks(0xFF, 4, 0, -1), IsEmpty());
    EXPECT_THAT(entry->ListSubTasks(0xFF, 7, 1, 1), ElementsAre("/Docs/a"));

    // A record copied out before the progress cannot put old counters back.
    CTaskInfo stale = task;
    stale.complete_bytes = 0;
    stale.complete_sub_task_count = 0;
    stale.sub_task_count = 0;
    stale.size = 0;
    stale.error_info = "changed";
    m_mgr->UpdateTask(stale);
    task = entry->Info();
    EXPECT_EQ(task.error_info, "changed");
    EXPECT_EQ(task.complete_bytes, 4 * kMiB);
    EXPECT_EQ(task.complete_sub_task_count, 1u);
    EXPECT_EQ(task.sub_task_count, 3u);
    EXPECT_EQ(task.size, 5 * kMiB + 5);

    entry->ResetSubTasks();
    task = entry->Info();
    EXPECT_EQ(task.sub_task_count, 0u);
    EXPECT_EQ(task.size, 0u);
    EXPECT_EQ(task.complete_bytes, 0u);
    EXPECT_THAT(entry->ListSubTasks(0xFF, 7, 0, 100), IsEmpty());
}

TEST_F(TaskMgrTest, ListingWaitingSubTasksTakesTheSmallestPathsFirst) {
    std::vector<std::pair<std::string, std::uint64_t>> subs;
    for (int i = 29; i >= 0; --i) {
        subs.emplace_back("/Docs/f" + std::string(i < 10 ? "0" : "") + std::to_string(i), 1);
    }
    auto entry = FolderTask("T", subs);
    const std::vector<std::string> paths = entry->ListSubTasks(kStateWaiting, 7, 0, 20);
    ASSERT_THAT(paths, SizeIs(20));
    EXPECT_EQ(paths.front(), "/Docs/f00");
    EXPECT_EQ(paths.back(), "/Docs/f19");
}

TEST_F(TaskMgrTest, TimeSpentGrowsOnlyWhileWorking) {
    auto entry = m_mgr->AddTask(Task("T", kStateWorking), false, false);
    AdvanceEngineClockForTesting(1500);
    entry->UpdateUsedTime();
    EXPECT_EQ(entry->Info().used_time, 1500u);
    CTaskInfo task = entry->Info();
    task.SetState(kStatePaused);
    m_mgr->UpdateTask(task);
    EXPECT_EQ(entry->LastActivity(), 0u);
    AdvanceEngineClockForTesting(5000);
    task = entry->Info();
    task.SetState(kStateWorking);
    m_mgr->UpdateTask(task); // Working again: counting restarts from now
    AdvanceEngineClockForTesting(200);
    entry->AddSentBytes(10);
    EXPECT_EQ(entry->Info().used_time, 1700u);
    EXPECT_EQ(entry->Info().send_bytes, 10u);
}

TEST_F(TaskMgrTest, StateChangeFlushesSubTasksAndACompletedTaskMayLeaveTheStore) {
    Settings().SetOption(kOptionDeleteFinished, "true");
    auto entry = FolderTask("T", {{"/Docs/a", 5}});
    Store(*entry, "/Docs/a", kStateWorking, {0});
    Store(*entry, "/Docs/a", kStateWorking, {0}); // within the second: staged only
    EXPECT_EQ(entry->SubTaskStore().StagedCount(), 1u);

    CTaskInfo task = entry->Info();
    task.SetState(kStateCompleted);
    m_mgr->UpdateTask(task);
    EXPECT_EQ(entry->SubTaskStore().StagedCount(), 0u);
    EXPECT_THAT(m_events.DeleteDb(), ElementsAre("T"));
    EXPECT_THAT(db_rows::Query(m_dir.File("T/subtasks.db"), "select state from subtask_v1"),
                ElementsAre(ElementsAre("4")));
}

TEST_F(TaskMgrTest, RemoveTaskDeletesRowAndFolderAndWithKeepStaysInMemory) {
    FolderTask("K", {{"/Docs/a", 5}});
    FolderTask("R", {{"/Docs/a", 5}});
    m_mgr->FlushAll();
    const std::size_t toldBefore = m_events.Changed().size();

    m_mgr->RemoveTask("K", true);
    m_mgr->RemoveTask("R", false);
    m_mgr->RemoveTask("unknown", false);
    m_mgr->FlushAll();

    EXPECT_NE(m_mgr->FindTask("K"), nullptr);
    EXPECT_EQ(m_mgr->FindTask("R"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("K")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("R")));
    EXPECT_THAT(db_rows::Query(TasksDb(), "select id from task_v2"), IsEmpty());
    const std::vector<std::string> told = m_events.Changed();
    EXPECT_THAT(std::vector(told.begin() + toldBefore, told.end()), ElementsAre("G/R"));
    EXPECT_EQ(m_log.Count("AddChangedTaskId:id:R;state:StateNone"), 1u);

    // A writer that found the task just before it was removed cannot bring its row back.
    FolderTask("LATE", {{"/Docs/a", 5}});
    auto late = m_mgr->FindTask("LATE");
    m_mgr->RemoveTask("LATE", false);
    late->SetInfo(late->Info());
    late->StageIn(m_mgr->TaskStore());
    m_mgr->FlushAll();
    EXPECT_THAT(db_rows::Query(TasksDb(), "select id from task_v2"), IsEmpty());
}

TEST_F(TaskMgrTest, ShutdownWritesWhatIsStillStaged) {
    auto entry = FolderTask(Id("T"), {{"/Docs/a", 3 * kMiB}});
    m_mgr->FlushAll();
    Store(*entry, "/Docs/a", kStateWorking, {1}); // staged in the sub-task store
    CTaskInfo task = entry->Info();
    task.error_info = "last words";
    m_mgr->UpdateTask(task); // staged in the task store
    entry.reset();

    Restart();
    ASSERT_TRUE(m_mgr->GetTask(Id("T"), task));
    EXPECT_EQ(task.error_info, "last words");
    EXPECT_EQ(task.complete_bytes, kMiB);
}

struct LoadCase {
    bool resumeOnLoad;
    std::uint32_t stored;
    std::uint32_t loaded;
    std::int32_t errorCode;
    std::uint64_t retryTime; // 0: now + retry delay in seconds below
    std::uint64_t retryDelay;
};

TEST_F(TaskMgrTest, LoadedTasksResumeAsTheSettingSays) {
    const std::uint64_t now = kStart / 1000;
    const LoadCase cases[] = {
        {true, kStateWorking, kStateWaiting, 0, 0, 0},
        {true, kStatePreparing, kStateWaitPreparing, 0, 0, 0},
        {true, kStateWaitPreparing, kStateWaitPreparing, 0, 0, 0},
        {true, kStatePaused, kStatePaused, 0, 0, 0},
        {true, kStateError, kStateError, 12002, 0, 30},
        {true, kStateError, kStateError, 20005, 0, 31536000},
        {true, kStateCompleted, kStateCompleted, 0, 0, 0},
        {false, kStateWorking, kStatePaused, 0, 0, 0},
        {false, kStatePreparing, kStatePaused, 0, 0, 0},
        {false, kStateWaitPreparing, kStatePaused, 0, 0, 0},
        {false, kStateWaiting, kStatePaused, 0, 0, 0},
        {false, kStateError, kStateError, 12002, kRetryTimeDueNow, 0},
    };
    int n = 0;
    for (const LoadCase& c : cases) {
        CTaskInfo task = Task(Id("T" + std::to_string(n++)), c.stored);
        task.error_code = c.errorCode;
        m_mgr->AddTask(task, false, true);
    }
    for (const bool resume : {true, false}) {
        Settings().SetOption(kOptionResumeOnLoad, resume ? "true" : "false");
        Restart();
        EXPECT_TRUE(m_mgr->IsLoaded());
        n = 0;
        for (const LoadCase& c : cases) {
            CTaskInfo task;
            ASSERT_TRUE(m_mgr->GetTask(Id("T" + std::to_string(n++)), task));
            if (c.resumeOnLoad != resume) {
                continue;
            }
            SCOPED_TRACE(task.task_id);
            EXPECT_EQ(task.state, c.loaded);
            if (c.stored == kStateError) {
                EXPECT_EQ(task.retry_time, c.retryTime != 0 ? c.retryTime : now + c.retryDelay);
            }
        }
    }
}

TEST_F(TaskMgrTest, RestartReloadsSubTasksAndTheirProgress) {
    auto entry =
        FolderTask(Id("T"), {{"/Docs/a", 3 * kMiB}, {"/Docs/b", 2 * kMiB}, {"/Docs/c", 1}});
    auto preparing = FolderTask(Id("P"), {{"/Docs/x", 1}}, kStateWaitPreparing);
    Store(*entry, "/Docs/a", kStateWorking, {0, 1});
    Store(*entry, "/Docs/b", kStateCompleted);
    CSubTaskInfo before;
    entry->GetSubTask("/Docs/a", before);
    entry.reset();
    preparing.reset();

    Restart();
    entry = m_mgr->FindTask(Id("T"));
    ASSERT_NE(entry, nullptr);
    const CTaskInfo task = entry->Info();
    EXPECT_EQ(task.complete_sub_task_count, 1u);
    EXPECT_EQ(task.complete_bytes, 4 * kMiB);
    CSubTaskInfo after;
    ASSERT_TRUE(entry->GetSubTask("/Docs/a", after));
    EXPECT_EQ(after.state, kStateWaiting); // was Working
    before.state = kStateWaiting;
    EXPECT_EQ(after, before);
    EXPECT_THAT(entry->ListSubTasks(kStateCompleted, 7, 0, -1), ElementsAre("/Docs/b"));
    EXPECT_THAT(db_rows::Query(m_dir.File(Id("T") + "/subtasks.db"),
                               "select sub_task_info from subtask_v1 where path='/Docs/b'"),
                ElementsAre(ElementsAre("")));
    // A task still waiting for its preparation has no sub-tasks to read yet.
    EXPECT_THAT(m_mgr->FindTask(Id("P"))->ListSubTasks(0xFF, 7, 0, 100), IsEmpty());
    EXPECT_THAT(m_events.Changed(), Contains("G/" + Id("T")));
}

TEST_F(TaskMgrTest, LoadGroupAddsOnlyThatGroup) {
    CTaskInfo other = Task(Id("H1"));
    other.group_id = "H";
    m_mgr->AddTask(other, false, true);
    m_mgr->AddTask(Task(Id("G1")), false, true);
    m_mgr.reset();
    m_mgr = std::make_unique<CTaskMgr>(&m_events);
    m_mgr->LoadGroup("H");
    EXPECT_THAT(m_mgr->ListTasks(0xFF), ElementsAre(Id("H1")));
    EXPECT_FALSE(m_mgr->IsLoaded());
}

TEST_F(TaskMgrTest, UnusableStoresNeverCostTheTasksInMemory) {
    SetStoreBusyTimeoutForTesting(50);
    auto entry = FolderTask(Id("T"), {{"/Docs/a", 5}});
    m_mgr->FlushAll();
    {
        // The sub-task table cannot be written: the commit is retried later.
        db_rows::WriteLock lock(m_dir.File(Id("T") + "/subtasks.db"));
        entry->AddSubTask("/Docs/b", 5, false, "");
        EXPECT_FALSE(entry->CommitSubTasks());
        EXPECT_TRUE(entry->CommitPending());
    }
    AdvanceEngineClockForTesting(1001);
    m_mgr->CheckSave();
    EXPECT_FALSE(entry->CommitPending());
    EXPECT_THAT(db_rows::Query(m_dir.File(Id("T") + "/subtasks.db"), "select path from subtask_v1"),
                SizeIs(2));

    // Corrupt databases (with their write-ahead logs): loading finds nothing, the engine goes
    // on in memory.
    const auto corrupt = [](const std::string& path) {
        testing_support::WriteFile(path, std::string(4096, 'x'));
        std::filesystem::remove(path + "-wal");
        std::filesystem::remove(path + "-shm");
    };
    entry.reset();
    m_mgr.reset();
    corrupt(m_dir.File(Id("T") + "/subtasks.db"));
    Restart();
    entry = m_mgr->FindTask(Id("T"));
    ASSERT_NE(entry, nullptr);
    EXPECT_THAT(entry->ListSubTasks(0xFF, 7, 0, 100), IsEmpty());
    entry.reset();
    m_mgr.reset();
    corrupt(TasksDb());
    Restart();
    EXPECT_TRUE(m_mgr->IsLoaded());
    EXPECT_THAT(m_mgr->ListTasks(0xFF), IsEmpty());
    ASSERT_NE(m_mgr->AddTask(Task(Id("N")), true, true), nullptr);
    m_mgr->CheckSave();
    EXPECT_TRUE(m_mgr->FindTask(Id("N")) != nullptr);
    EXPECT_THAT(m_log.Errors(), Contains(HasSubstr("SQLITE_NOTADB")));
}

TEST_F(TaskMgrTest, ThreadsShareTheContainer) {
    auto entry = FolderTask("T", {{"/Docs/a", 3 * kMiB}, {"/Docs/b", 3 * kMiB}});
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 50; ++i) {
            m_mgr->AddTask(Task("N" + std::to_string(i)), true, true);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            Store(*entry, i % 2 == 0 ? "/Docs/a" : "/Docs/b", kStateWorking, {0});
            entry->SetSubTaskBytes(i % 2 == 0 ? "/Docs/a" : "/Docs/b", kMiB);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            std::vector<std::string> ids = m_mgr->ListTasks(0xFF);
            m_mgr->SortTasks(ids);
            CTaskInfo task;
            m_mgr->GetTask("T", task);
            AdvanceEngineClockForTesting(10);
            m_mgr->CheckSave();
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(entry->Info().complete_bytes, 2 * kMiB);
    EXPECT_THAT(m_mgr->ListTasks(0xFF), SizeIs(51));
}

} // namespace
