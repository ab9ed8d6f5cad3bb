#include "log/log_rotation.h"
#include "log/log_writer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A sparse file of the given length: instant, whatever the size.
void MakeFileOfSize(const std::string& path, std::uintmax_t size) {
    WriteFile(path, "");
    fs::resize_file(path, size);
}

std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

} // namespace

TEST(LogRotation, RotatesOnlyPastTheLimit) {
    TempDir dir;
    const std::string path = dir.File("parvex.log");

    MakeFileOfSize(path, kMaxLogFileBytes);
    CheckLogSize(path);
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"parvex.log"});

    fs::resize_file(path, kMaxLogFileBytes + 1);
    CheckLogSize(path);
    const auto names = NamesIn(dir.Path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(*names.begin(), std::regex(R"(parvex\.log\.\d{17})")))
        << *names.begin();
    EXPECT_EQ(fs::file_size(dir.File(*names.begin())), kMaxLogFileBytes + 1);

    CheckLogSize(dir.File("missing.log")); // nothing there: nothing happens
}

TEST(LogRotation, KeepsTheFiveNewestRotatedFiles) {
    TempDir dir;
    const std::string path = dir.File("parvex.log");
    const std::vector<std::string> old = {
        "parvex.log.20200101000000001", "parvex.log.20200101000000002",
        "parvex.log.20200101000000003", "parvex.log.20200101000000004",
        "parvex.log.20200101000000005"};
    for (const auto& name : old) {
        WriteFile(dir.File(name), "old");
    }
    WriteFile(dir.File("other.log.1"), "not ours");
    fs::create_directory(dir.File("parvex.log.dir")); // folders never count
    MakeFileOfSize(path, kMaxLogFileBytes + 1);

    CheckLogSize(path);

    auto names = NamesIn(dir.Path());
    EXPECT_FALSE(names.count(old[0])) << "the oldest rotated file goes";
    for (std::size_t i = 1; i < old.size(); ++i) {
        EXPECT_TRUE(names.count(old[i])) << old[i];
    }
    EXPECT_TRUE(names.count("other.log.1"));
    EXPECT_TRUE(names.count("parvex.log.dir"));
    EXPECT_FALSE(names.count("parvex.log"));
    std::size_t rotated = 0;
    for (const auto& n : names) {
        rotated += n.rfind("parvex.log.", 0) == 0 && fs::is_regular_file(dir.File(n));
    }
    EXPECT_EQ(rotated, kKeptRotatedLogs);
}

TEST(LogRotation, TheWriterChecksTheSizeAfterEachBatch) {
    TempDir dir;
    const std::string path = dir.File("parvex.log");
    MakeFileOfSize(path, kMaxLogFileBytes);
    CLogWriter writer;
    writer.SetPath(path);
    writer.Push("one more line");

    ASSERT_EQ(writer.WriteBatch().lines, 1u);

    EXPECT_FALSE(fs::exists(path)) << "the grown file was moved aside";
    EXPECT_EQ(NamesIn(dir.Path()).size(), 1u);
    writer.Push("next");
    writer.WriteBatch();
    EXPECT_EQ(testing_support::ReadLines(path), std::vector<std::string>{"next"});
}
