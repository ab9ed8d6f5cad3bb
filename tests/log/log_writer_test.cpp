#include "log/log_writer.h"
#include "log/sync_my_log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace std::chrono_literals;
using testing_support::ReadLines;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

void QueueLines(CLogWriter& writer, int count, const std::string& prefix = "line ") {
    for (int i = 0; i < count; ++i) {
        writer.Push(prefix + std::to_string(i));
    }
}

} // namespace

TEST(LogWriter, QueuedLinesGoOutInBatchesOfAtMost1001WithTheFileReopenedForEach) {
    TempDir dir;
    const std::string path = dir.File("parvex.log");
    CLogWriter writer;
    writer.SetPath(path);
    QueueLines(writer, 2500);

    std::vector<std::size_t> batches;
    for (int i = 0; i < 3; ++i) {
        const auto result = writer.WriteBatch();
        EXPECT_TRUE(result.opened);
        batches.push_back(result.lines);
        // Another program may take the file away between batches: the next one recreates it.
        std::filesystem::rename(path, dir.File("batch" + std::to_string(i)));
    }
    EXPECT_EQ(batches, (std::vector<std::size_t>{1001, 1001, 498}));
    EXPECT_EQ(writer.QueuedLines(), 0u);

    const auto first = ReadLines(dir.File("batch0"));
    const auto last = ReadLines(dir.File("batch2"));
    ASSERT_EQ(first.size(), 1001u);
    ASSERT_EQ(last.size(), 498u);
    EXPECT_EQ(first.front(), "line 0");
    EXPECT_EQ(last.back(), "line 2499");
}

TEST(LogWriter, StoppingDrainsEveryLineFromEveryThreadInOrder) {
    TempDir dir;
    CLogWriter writer;
    writer.SetPath(dir.File("parvex.log"));
    CSyncMyLog log(&writer);
    log.SetName("T");
    ASSERT_TRUE(writer.Start());
    EXPECT_FALSE(writer.Start()) << "a second writer must not start";

    constexpr int kThreads = 4, kPerThread = 1500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kPerThread; ++i) {
                log.ErrorFormat("%d %d", t, i);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_TRUE(writer.Stop());
    EXPECT_FALSE(writer.IsRunning());

    const auto lines = ReadLines(dir.File("parvex.log"));
    ASSERT_EQ(lines.size(), std::size_t(kThreads * kPerThread));
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + line.find("]: ") + 3, "%d %d", &t, &i), 2) << line;
        EXPECT_EQ(i, next[t]++) << "lines of one thread keep their order";
    }
}

TEST(LogWriter, UnopenableFileKeepsLinesQueuedAndRetriesWithAPause) {
    TempDir dir;
    const std::string folder = dir.File("Log");
    CLogWriter writer;
    writer.SetPath(folder + "/parvex.log"); // the folder does not exist yet
    constexpr auto kPause = 40ms;
    writer.SetWaits(10ms, kPause);
    QueueLines(writer, 3);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(writer.Start());
    ASSERT_TRUE(WaitUntil([&] { return writer.FailedOpens() >= 3; }));
    // Three attempts need at least two pauses: the writer does not spin.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2 * kPause);
    EXPECT_EQ(writer.QueuedLines(), 3u);

    std::filesystem::create_directory(folder);
    ASSERT_TRUE(WaitUntil([&] { return writer.QueuedLines() == 0; }));
    EXPECT_TRUE(writer.Stop());
    EXPECT_EQ(ReadLines(folder + "/parvex.log").size(), 3u);
}

TEST(LogWriter, StopDoesNotHangWhenTheFileCannotBeOpened) {
    CLogWriter writer;
    writer.SetPath("/nonexistent-parvex-folder/parvex.log");
    QueueLines(writer, 5);
    ASSERT_TRUE(writer.Start());
    EXPECT_TRUE(writer.Stop(10s));
    EXPECT_FALSE(writer.IsRunning());
    // A writer can be started again after a stop.
    EXPECT_TRUE(writer.Start());
    EXPECT_TRUE(writer.Stop(10s));
}
