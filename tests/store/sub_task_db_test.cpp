#include "store/sub_task_db.h"

#include "engine/record_print.h"
#include "store/db_rows.h"
#include "store/store_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;

SubTaskSummary Summary(std::string path, std::uint32_t state, std::string json,
                       std::uint64_t size = 7) {
    SubTaskSummary summary;
    summary.path = std::move(path);
    summary.state = state;
    summary.size = size;
    summary.json = std::move(json);
    summary.finger_mark = "fp'" + summary.path;
    summary.transmethod = 2; // not stored: reads back as 1
    summary.add_time = 99;   // not stored: reads back as 0
    return summary;
}

// Handles this process holds on the file at path, also once it is deleted.
std::size_t OpenHandles(const std::string& path) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        count += !error && (target == path || target == path + " (deleted)") ? 1 : 0;
    }
    return count;
}

class SubTaskDbTest : public StoreTest {
protected:
    std::string DbPath() const { return m_dir.File("TASK1/subtasks.db"); }
    db_rows::Rows Rows() const {
        return db_rows::Query(DbPath(), "select path, state, size, is_folder, sub_task_info, "
                                        "finger_mark from subtask_v1 order by path");
    }

    CSubTaskDB m_db;
    SubTaskMap m_waiting;
    SubTaskMap m_completed;
    SubTaskMap m_active;
};

TEST_F(SubTaskDbTest, InitCreatesTheTaskFolderAndTheTable) {
    Settings().SetOption(kOptionDataFolder, m_dir.File("deeper/data"));
    m_db.Init("TASK1");
    EXPECT_EQ(m_db.DatabasePath(), m_dir.File("deeper/data/TASK1/subtasks.db"));
    EXPECT_THAT(db_rows::Query(m_db.DatabasePath(),
                               "select sql from sqlite_master where name='subtask_v1'"),
                ElementsAre(ElementsAre(
                    "CREATE TABLE [subtask_v1](   [path] text PRIMARY KEY, [state] integer, "
                    "[size] bigint, [is_folder] smallint, [sub_task_info] text, "
                    "[finger_mark] text, [reserved1] text, [reserved2] text )")));

    CSubTaskDB none;
    Settings().SetOption(kOptionDataFolder, "");
    none.Init("TASK2");
    EXPECT_EQ(none.DatabasePath(), "");
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("TASK2")));
}

// Which collection each stored row comes back in, and with which state and JSON text.
TEST_F(SubTaskDbTest, LoadSortsRowsIntoTheThreeCollections) {
    m_db.Init("TASK1");
    SubTaskMap waiting{{"w'1", Summary("w'1", kStateWaiting, "")}};
    SubTaskMap completed{{"c1", Summary("c1", kStateCompleted, "{\"kept\":0}")}};
    SubTaskMap active{
        {"a-wait", Summary("a-wait", kStateWaiting, "{\"x\":'q'}")},
        {"a-work", Summary("a-work", kStateWorking, "{\"w\":1}")},
        {"a-err", Summary("a-err", kStateError, "")},
        {"a-pause", Summary("a-pause", kStatePaused, "{\"p\":1}")},
    };
    active["a-work"].is_folder = true;
    ASSERT_TRUE(m_db.SaveAll(waiting, completed, active));
    EXPECT_THAT(m_log.Count("CSubTaskDB::SaveAll:" + DbPath()), 1u);

    ASSERT_TRUE(m_db.Load(m_waiting, m_completed, m_active));
    const auto stored = [](SubTaskSummary s, std::uint32_t state, std::string json) {
        s.state = state;
        s.json = std::move(json);
        s.transmethod = 1;
        s.add_time = 0;
        return s;
    };
    EXPECT_THAT(m_waiting, ElementsAre(Pair("w'1", stored(waiting["w'1"], kStateWaiting, ""))));
    EXPECT_THAT(m_completed, ElementsAre(Pair("c1", stored(completed["c1"], kStateCompleted, ""))));
    EXPECT_THAT(m_active,
                ElementsAre(Pair("a-err", stored(active["a-err"], kStateWaiting, "")),
                            Pair("a-pause", stored(active["a-pause"], kStateWaiting, "{\"p\":1}")),
                            Pair("a-wait", stored(active["a-wait"], kStateWaiting, "{\"x\":'q'}")),
                            Pair("a-work", stored(active["a-work"], kStateWaiting, "{\"w\":1}"))));
    // The stored state stays what it was; only the loaded summary is Waiting.
    EXPECT_EQ(Rows()[3],
              (std::vector<std::string>{"a-work", "4", "7", "1", "{\"w\":1}", "fp'a-work"}));

    // A second SaveAll replaces the whole table.
    ASSERT_TRUE(m_db.SaveAll({}, completed, {}));
    EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(SubTaskDbTest, SavedChangesUpdateExistingRowsAtMostOnceASecond) {
    m_db.Init("TASK1");
    ASSERT_TRUE(m_db.SaveAll({{"a", Summary("a", kStateWaiting, "")}}, {}, {}));
    m_db.DoSave(); // the last flush is now

    m_db.Save(Summary("a", kStateWorking, "{\"v\":1}", 8));
    m_db.Save(Summary("new", kStateWorking, "{}")); // no row: updates change nothing
    EXPECT_EQ(m_db.StagedCount(), 2u);
    AdvanceEngineClockForTesting(1000);
    m_db.Save(Summary("a", kStateWorking, "{\"v\":'2'}", 8));
    EXPECT_EQ(Rows()[0][1], "16");

    AdvanceEngineClockForTesting(1);
    m_db.Save(Summary("a", kStateWorking, "{\"v\":'3'}", 8));
    EXPECT_EQ(m_db.StagedCount(), 0u);
    EXPECT_THAT(Rows(), ElementsAre(ElementsAre("a", "4", "8", "0", "{\"v\":'3'}", "fp'a")));
    EXPECT_EQ(m_log.Count("CSubTaskDB::DoSave:" + DbPath()), 1u);
}

TEST_F(SubTaskDbTest, AFailedFlushKeepsItsChangesForTheNextOne) {
    SetStoreBusyTimeoutForTesting(50);
    m_db.Init("TASK1");
    ASSERT_TRUE(m_db.SaveAll({{"a", Summary("a", kStateWaiting, "")}}, {}, {}));
    {
        db_rows::WriteLock lock(DbPath());
        m_db.Save(Summary("a", kStateWorking, "{\"v\":1}"));
        m_db.DoSave();
        EXPECT_EQ(m_db.StagedCount(), 1u);
        EXPECT_FALSE(m_db.SaveAll({}, {}, {}));
        EXPECT_THAT(m_log.Errors(), Contains(HasSubstr("Sql error: error:[SQLITE_BUSY[5]")));
    }
    m_db.DoSave();
    EXPECT_EQ(m_db.StagedCount(), 0u);
    EXPECT_EQ(Rows()[0][4], "{\"v\":1}");

    // A whole table written after a failed flush supersedes what that flush kept.
    {
        db_rows::WriteLock lock(DbPath());
        m_db.Save(Summary("a", kStateWorking, "{\"v\":2}"));
        m_db.DoSave();
    }
    ASSERT_TRUE(m_db.SaveAll({{"a", Summary("a", kStateWaiting, "")}}, {}, {}));
    EXPECT_EQ(m_db.StagedCount(), 0u);
    m_db.DoSave();
    EXPECT_EQ(Rows()[0][4], "");
}

// A download flushes several times a second: its flushes share one connection, held until the
// engine lets go of it, and never past the task's deletion.
TEST_F(SubTaskDbTest, FlushesShareOneConnectionUntilLetGo) {
    m_db.Init("TASK1");
    ASSERT_TRUE(m_db.SaveAll({{"a", Summary("a", kStateWaiting, "")}}, {}, {}));
    EXPECT_EQ(OpenHandles(DbPath()), 0u);
    for (const char* json : {"{\"v\":1}", "{\"v\":2}", "{\"v\":3}"}) {
        m_db.Save(Summary("a", kStateWorking, json));
        m_db.DoSave();
        EXPECT_EQ(Rows()[0][4], json);
    }
    // More than one when SQLite keeps another connection's handle while this one holds a lock.
    EXPECT_GT(OpenHandles(DbPath()), 0u);
    m_db.CloseConnection();
    EXPECT_EQ(OpenHandles(DbPath()), 0u);

    m_db.Save(Summary("a", kStateWorking, "{}"));
    m_db.DoSave();
    EXPECT_GT(OpenHandles(DbPath()), 0u);
    m_db.DeleteFolder();
    EXPECT_EQ(OpenHandles(DbPath()), 0u);
    EXPECT_THAT(m_log.Errors(), IsEmpty());
}

TEST_F(SubTaskDbTest, DeleteFolderRemovesTheStoreForGood) {
    m_db.Init("TASK1");
    ASSERT_TRUE(m_db.SaveAll({{"a", Summary("a", kStateWaiting, "")}}, {}, {}));
    m_db.Save(Summary("a", kStateWorking, "{}"));
    m_db.DeleteFolder();
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("TASK1")));

    m_db.Save(Summary("a", kStateWorking, "{}"));
    m_db.DoSave();
    EXPECT_TRUE(m_db.SaveAll({{"a", Summary("a", kStateWaiting, "")}}, {}, {}));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("TASK1")));
    EXPECT_THAT(m_log.Errors(), IsEmpty());
}

} // namespace
