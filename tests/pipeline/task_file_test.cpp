#include "pipeline/pipeline_fixture.h"

#include "engine/log_capture.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "pipeline/tovu_file.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

using testing_support::ReadFile;
using testing_support::WriteFile;

std::int64_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// Temporary files of link sub-tasks, without a service: nothing is downloaded here.
class TaskFileTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        SetTransferWorkers(&m_pipeline);
        AddFolderTask("T1", kStateWorking);
        AddSubTasks("T1", {{"big.bin", 10 * kMiB}, {"small.txt", 5}, {"empty.txt", 0}});
    }
    std::string Local(const std::string& name) const {
        return SubTaskOf("T1", name).local_file.path;
    }
    std::string Temp(const std::string& name) const { return TempFilePath(Local(name)); }
    // A file in the task's folder that belongs to no sub-task.
    std::string Beside(const std::string& name) const {
        return (std::filesystem::path(Local("small.txt")).parent_path() / name).string();
    }

    LogCapture m_log;
};

TEST_F(TaskFileTest, FileTakesItsFullSizeAtOnceAndKeepsWhatAnEarlierRunWrote) {
    {
        CTaskFile file;
        ASSERT_TRUE(file.Attach("T1", SubPath("big.bin")));
        EXPECT_EQ(SizeOf(Temp("big.bin")), static_cast<std::int64_t>(10 * kMiB))
            << "sized before any part arrives";
        EXPECT_EQ(file.WriteAt("part", 4, 3 * kMiB).bytes, 4);
    }
    // A stale file longer than the sub-task (an older, bigger version) loses its tail.
    WriteFile(Temp("small.txt"), "abcdefghij");
    CTaskFile big;
    CTaskFile small;
    ASSERT_TRUE(big.Attach("T1", SubPath("big.bin")));
    ASSERT_TRUE(small.Attach("T1", SubPath("small.txt")));
    EXPECT_EQ(ReadFile(Temp("big.bin")).substr(3 * kMiB, 4), "part");
    EXPECT_EQ(ReadFile(Temp("small.txt")), "abcde");
}

TEST_F(TaskFileTest, WorkersOfOneSubTaskShareTheFile) {
    CTaskFile first;
    CTaskFile second;
    ASSERT_TRUE(first.Attach("T1", SubPath("small.txt")));
    ASSERT_TRUE(second.Attach("T1", SubPath("small.txt")));
    EXPECT_EQ(first.WriteAt("ab", 2, 0).bytes, 2);
    EXPECT_EQ(second.WriteAt("cde", 3, 2).bytes, 3);
    first.Release();
    EXPECT_TRUE(second.IsOpen()) << "open while a user is attached";
    second.Release();
    EXPECT_EQ(ReadFile(Temp("small.txt")), "abcde");
    EXPECT_EQ(CTaskFile::OpenFileCount(), 0u);
}

TEST_F(TaskFileTest, SyncCoversEveryWriteBeforeIt) {
    CTaskFile::SetSyncIntervalForTesting(3'600'000); // only the bytes gathered make it due
    CTaskFile first;
    CTaskFile second;
    ASSERT_TRUE(first.Attach("T1", SubPath("big.bin")));
    ASSERT_TRUE(second.Attach("T1", SubPath("big.bin")));
    const WrittenPart a = first.WriteAt("a", 1, 0);
    const WrittenPart b = second.WriteAt("b", 1, kMiB);
    EXPECT_FALSE(first.IsSynced(a.sequence));
    EXPECT_TRUE(first.SyncDue()) << "never synced";
    ASSERT_TRUE(second.SyncThrough(b.sequence));
    EXPECT_TRUE(first.IsSynced(a.sequence)) << "the other worker's sync covered it";
    EXPECT_FALSE(first.SyncDue()) << "not again within the interval";
    const WrittenPart c = first.WriteAt("c", 1, 2 * kMiB);
    EXPECT_FALSE(first.IsSynced(c.sequence));
    // A few MiB gathered make a sync due before the interval ends.
    const std::string part(kMiB, 'p');
    for (std::uint64_t written = 0; written < CTaskFile::kSyncBytes; written += kMiB) {
        EXPECT_FALSE(first.SyncDue());
        first.WriteAt(part.data(), part.size(), 0);
    }
    EXPECT_TRUE(first.SyncDue());
    // A writer asks the sync thread and goes on; the sync covers what was written before it.
    const WrittenPart d = second.WriteAt("d", 1, 3 * kMiB);
    first.RequestSync();
    EXPECT_TRUE(testing_support::WaitUntil([&] { return second.IsSynced(d.sequence); }));
    EXPECT_FALSE(first.SyncFailedFor(d.sequence));
    CTaskFile::SetSyncIntervalForTesting(0);
}

TEST_F(TaskFileTest, DeletingWaitsForTheLastUser) {
    CTaskFile file;
    ASSERT_TRUE(file.Attach("T1", SubPath("big.bin")));
    CSubTaskInfo big = SubTaskOf("T1", "big.bin");
    CTaskFile::DeleteTempFile(big);
    EXPECT_TRUE(std::filesystem::exists(Temp("big.bin"))) << "a worker still writes it";
    file.Release();
    EXPECT_FALSE(std::filesystem::exists(Temp("big.bin")));

    WriteFile(Temp("small.txt"), "left over");
    CTaskFile::DeleteTempFile(SubTaskOf("T1", "small.txt"));
    EXPECT_FALSE(std::filesystem::exists(Temp("small.txt"))) << "no user: removed at once";
}

TEST_F(TaskFileTest, FinishingNeverReplacesAFileAndNeverMakesOneOfZeros) {
    {
        CTaskFile file;
        ASSERT_TRUE(file.Attach("T1", SubPath("small.txt")));
        file.WriteAt("fresh", 5, 0);
    }
    // Someone else's file at the final name (and at the first numbered one's temporary name).
    WriteFile(Local("small.txt"), "an older copy");
    WriteFile(Beside("small (1).txt.tovutmp"), "not ours");
    EXPECT_EQ(m_pipeline.FinishDownload(SubTaskOf("T1", "small.txt")), 0);
    EXPECT_EQ(ReadFile(Local("small.txt")), "an older copy");
    EXPECT_EQ(ReadFile(Beside("small (1).txt.tovutmp")), "not ours");
    EXPECT_EQ(ReadFile(Beside("small (2).txt")), "fresh");
    EXPECT_FALSE(std::filesystem::exists(Temp("small.txt")));
    EXPECT_THAT(m_log.Errors(), Contains(HasSubstr("saved as")));

    // Its temporary file is gone (removed by hand): nothing to finish.
    EXPECT_EQ(m_pipeline.FinishDownload(SubTaskOf("T1", "big.bin")), platform_error::kFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(Local("big.bin")));
    EXPECT_FALSE(std::filesystem::exists(Temp("big.bin")));

    // An empty file has nothing to lose: finishing makes it.
    EXPECT_EQ(m_pipeline.FinishDownload(SubTaskOf("T1", "empty.txt")), 0);
    EXPECT_EQ(SizeOf(Local("empty.txt")), 0);
}

TEST_F(TaskFileTest, ATooLongNameFailsTheSubTaskWithItsMessage) {
    const std::string name(300, 'n');
    AddSubTasks("T1", {{name, 10}});
    CTaskFile first;
    CTaskFile second;
    EXPECT_FALSE(first.Attach("T1", SubPath(name)));
    EXPECT_FALSE(second.Attach("T1", SubPath(name))) << "a second worker meets the same failure";
    EXPECT_EQ(m_dispatcher->QueuedChangeCount(), 1u) << "reported once";
    Apply();
    const CSubTaskInfo sub = SubTaskOf("T1", name);
    EXPECT_EQ(sub.state, kStateError);
    EXPECT_EQ(sub.error_code, platform_error::kNameTooLong);
    EXPECT_EQ(sub.error_info, "Filename is too long!");
}

TEST_F(TaskFileTest, AFolderInTheWayFailsWithThePlatformCode) {
    std::filesystem::create_directories(Temp("small.txt"));
    CTaskFile file;
    EXPECT_FALSE(file.Attach("T1", SubPath("small.txt")));
    EXPECT_NE(file.InitError(), 0);
    CTaskFile::DeleteTempFile(SubTaskOf("T1", "small.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(Temp("small.txt"))) << "a folder is not removed";
}

} // namespace
