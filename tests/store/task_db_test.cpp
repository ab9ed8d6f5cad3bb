#include "store/task_db.h"

#include "engine/record_print.h"
#include "store/db_rows.h"
#include "store/store_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <thread>

#include <sys/resource.h>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// Stored ids are read back only when they are task ids: 32 upper-case hexadecimal digits.
constexpr const char* kT1 = "A0000000000000000000000000000001";
constexpr const char* kT2 = "A0000000000000000000000000000002";
constexpr const char* kT3 = "A0000000000000000000000000000003";

CTaskInfo Task(const std::string& id, const std::string& localPath = "/save/a.txt") {
    CTaskInfo task;
    task.task_id = id;
    task.add_time = 1'650'000'000'123;
    task.priority = 3;
    task.state = kStateWaiting;
    task.group_id = "G1";
    task.box_file.path = "https://svc.test/v2/delivery/metadata/CODE/a.txt";
    task.local_file.path = localPath;
    task.size = 10;
    return task;
}

class TaskDbTest : public StoreTest {
protected:
    db_rows::Rows Rows() const {
        return db_rows::Query(TasksDb(),
                              "select id, add_time, is_upload, state, group_id, "
                              "task_info, reserved1, reserved2 from task_v2 order by id");
    }
    std::vector<CTaskInfo> LoadAll() {
        CTaskDB db;
        db.Init();
        std::vector<CTaskInfo> tasks;
        EXPECT_TRUE(db.Load(tasks));
        return tasks;
    }

    CTaskDB m_db;
};

TEST_F(TaskDbTest, InitCreatesTheTableWithItsStoredStatement) {
    m_db.Init();
    EXPECT_EQ(m_db.DatabasePath(), TasksDb());
    EXPECT_THAT(db_rows::Query(TasksDb(), "select sql from sqlite_master where name='task_v2'"),
                ElementsAre(ElementsAre(
                    "CREATE TABLE [task_v2](   [id] text PRIMARY KEY, [add_time] bigint, "
                    "[is_upload] smallint, [state] integer, [group_id] text, [task_info] text, "
                    "[reserved1] text, [reserved2] text )")));
    // A second Init leaves the existing table and its rows alone.
    m_db.Save(Task(kT1));
    m_db.DoSave();
    m_db.Init();
    EXPECT_THAT(Rows(), SizeIs(1));
    EXPECT_THAT(m_log.Errors(), IsEmpty());
}

TEST_F(TaskDbTest, WithoutDataFolderNothingIsStored) {
    Settings().SetOption(kOptionDataFolder, "");
    m_db.Init();
    m_db.Save(Task(kT1));
    m_db.DoSave();
    m_db.Delete(kT1);
    std::vector<CTaskInfo> tasks;
    EXPECT_TRUE(m_db.Load(tasks));
    EXPECT_THAT(tasks, IsEmpty());
    EXPECT_EQ(m_db.DatabasePath(), "");
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.Path()));
    EXPECT_THAT(m_log.Errors(), IsEmpty());
}

TEST_F(TaskDbTest, TwoSavesThenAFlushWriteOneRowWithTheLaterRecord) {
    m_db.Init();
    CTaskInfo task = Task(kT1);
    m_db.Save(task);
    task.state = kStateWorking;
    task.error_info = "later";
    m_db.Save(task);
    m_db.DoSave();

    EXPECT_THAT(Rows(), ElementsAre(ElementsAre(kT1, "1650000000123", "0", "4", "G1", task.ToJson(),
                                                "", "")));
    EXPECT_EQ(m_log.Count("CTaskDB::DoSave:[insert into task_v2 values(   '" + std::string(kT1) +
                          "', "
                          "1650000000123, 0, 4, 'G1', '{"),
              1u);

    // The next flush of the same task updates its row.
    task.state = kStatePaused;
    m_db.Save(task);
    m_db.DoSave();
    EXPECT_THAT(Rows(), ElementsAre(ElementsAre(kT1, "1650000000123", "0", "8", "G1", task.ToJson(),
                                                "", "")));
    EXPECT_EQ(m_log.Count("CTaskDB::DoSave:[update task_v2 set  id='" + std::string(kT1) +
                          "', add_time=1650000000123, "
                          "is_upload=0, state=8, group_id='G1', task_info='{"),
              1u);
    EXPECT_EQ(m_log.Count("}'where id='" + std::string(kT1) + "';]"), 1u);
    EXPECT_THAT(LoadAll(), ElementsAre(task));
}

TEST_F(TaskDbTest, CheckSaveFlushesOnlyAfterMoreThanASecond) {
    m_db.Init();
    m_db.DoSave(); // the last flush is now
    m_db.Save(Task(kT1));
    AdvanceEngineClockForTesting(1000);
    m_db.CheckSave();
    EXPECT_THAT(Rows(), IsEmpty());
    EXPECT_EQ(m_db.StagedCount(), 1u);
    AdvanceEngineClockForTesting(1);
    m_db.CheckSave();
    EXPECT_THAT(Rows(), SizeIs(1));
    EXPECT_EQ(m_db.StagedCount(), 0u);
}

TEST_F(TaskDbTest, QuotesInEveryStoredTextRoundTrip) {
    m_db.Init();
    CTaskInfo task = Task(kT1, "/save/o'brien/it's.txt");
    task.group_id = "g'1";
    task.error_info = "'; drop table task_v2; --";
    m_db.Save(task);
    m_db.DoSave();
    m_db.Save(task); // and through the update
    m_db.DoSave();

    EXPECT_THAT(LoadAll(), ElementsAre(task));
    EXPECT_EQ(m_log.Count("/save/o''brien/it''s.txt"), 2u);
    EXPECT_THAT(m_log.Errors(), IsEmpty());
}

TEST_F(TaskDbTest, DeleteRemovesTheRowAndAnyStagedCopy) {
    m_db.Init();
    m_db.Save(Task(kT1));
    m_db.Save(Task(kT2));
    m_db.DoSave();
    m_db.Save(Task(kT3));
    m_db.Delete(kT3); // staged, never flushed
    m_db.Delete(kT1);
    m_db.DoSave();

    EXPECT_THAT(LoadAll(), ElementsAre(Task(kT2)));
    EXPECT_EQ(
        m_log.Count("CTaskDB::Delete:[delete from task_v2 where id = '" + std::string(kT1) + "';]"),
        1u);
}

TEST_F(TaskDbTest, LoadKeepsTheStoredGroupAndAnUnreadableRowOnlyByIt) {
    m_db.Init();
    CTaskInfo task = Task(kT1);
    m_db.Save(task);
    m_db.DoSave();
    db_rows::Exec(TasksDb(),
                  "update task_v2 set group_id='G9';"
                  "insert into task_v2 values('T2', 0, 0, 16, 'G2', 'not json', '', '');"
                  // Nested deeper than any record: a recursive parse would overflow the stack.
                  "insert into task_v2 values('T3', 0, 0, 16, 'G3', '" +
                      std::string(5 << 20, '[') + "', '', '');");

    std::vector<CTaskInfo> tasks;
    ASSERT_TRUE(m_db.Load(tasks));
    ASSERT_THAT(tasks, SizeIs(3));
    task.group_id = "G9";
    EXPECT_EQ(tasks[0], task);
    for (const std::string& group : {std::string("G2"), std::string("G3")}) {
        CTaskInfo groupOnly;
        groupOnly.group_id = group;
        EXPECT_EQ(tasks[group == "G2" ? 1 : 2], groupOnly);
    }
}

TEST_F(TaskDbTest, ACorruptDatabaseIsLoggedAndTheBatchKeptForALaterFlush) {
    testing_support::WriteFile(TasksDb(), std::string(4096, 'x'));
    m_db.Init();
    std::vector<CTaskInfo> tasks;
    EXPECT_FALSE(m_db.Load(tasks));
    m_db.Save(Task(kT1));
    m_db.DoSave();
    EXPECT_EQ(m_db.StagedCount(), 1u);
    EXPECT_THAT(m_log.Errors(),
                Contains(HasSubstr("Sql error: error:[SQLITE_NOTADB[26]: file is not a database] "
                                   "sql:[select * from task_v2 ;]")));

    // Once the file is usable again, the next flush writes what was kept.
    std::filesystem::remove(TasksDb());
    m_db.DoSave();
    EXPECT_THAT(LoadAll(), ElementsAre(Task(kT1)));
}

// The file size limit stands in for a full disk: writes past it fail as they would there.
TEST_F(TaskDbTest, AFullDiskFailsTheWholeBatchAndTheNextFlushWritesIt) {
    m_db.Init();
    for (int i = 0; i < 100; ++i) {
        CTaskInfo task = Task("T" + std::to_string(i));
        task.error_info = std::string(10000, 'e');
        m_db.Save(task);
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    m_db.DoSave();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_THAT(m_log.Errors(), Contains(HasSubstr("Sql error: error:[SQLITE_")));
    EXPECT_EQ(m_db.StagedCount(), 100u);
    EXPECT_THAT(Rows(), IsEmpty());
    m_db.DoSave();
    EXPECT_THAT(Rows(), SizeIs(100));
}

TEST_F(TaskDbTest, ALockedDatabaseFailsTheFlushWithoutLosingNewerOrDeletedState) {
    SetStoreBusyTimeoutForTesting(200);
    m_db.Init();
    m_db.Save(Task(kT1));
    m_db.DoSave();

    CTaskInfo older = Task(kT1);
    older.error_info = "older";
    m_db.Save(older);
    m_db.Save(Task(kT2));
    std::future<void> deleted;
    {
        db_rows::WriteLock lock(TasksDb());
        auto flush = std::async(std::launch::async, [this] { m_db.DoSave(); });
        ASSERT_TRUE(testing_support::WaitUntil([this] { return m_db.StagedCount() == 0; }));
        CTaskInfo newer = Task(kT1);
        newer.error_info = "newer";
        m_db.Save(newer);
        deleted = std::async(std::launch::async, [this] { m_db.Delete(kT2); });
        flush.get();
        deleted.get(); // the delete also met the lock and is kept for the next flush
        EXPECT_EQ(m_db.StagedCount(), 1u);
        EXPECT_THAT(m_log.Errors(), Contains(HasSubstr("SQLITE_BUSY[5]")));
    }
    m_db.DoSave();
    CTaskInfo newer = Task(kT1);
    newer.error_info = "newer";
    EXPECT_THAT(LoadAll(), ElementsAre(newer));
}

} // namespace
