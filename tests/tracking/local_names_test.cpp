#include "support/temp_dir.h"
#include "tracking/local_names.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteFile;

class FreeLocalPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* file : {"report.pdf", "report (1).pdf", "README", ".profile",
                                 "archive.tar.gz", "a%2b.txt", "left.bin.tovutmp"}) {
            WriteFile(m_dir.File(file), "x");
        }
        fs::create_directory(m_dir.File("photos"));
        fs::create_directory(m_dir.File("photos (1)"));
        fs::create_symlink(m_dir.File("nowhere"), m_dir.File("ghost.txt"));
    }

    QString Folder() const { return QString::fromStdString(m_dir.Path()); }
    QString In(const char* name) const { return Folder() + "/" + QString::fromUtf8(name); }

    TempDir m_dir;
};

TEST_F(FreeLocalPathTest, NumbersTheNameUntilItIsFree) {
    const struct {
        const char* servicePath;
        bool isFolder;
        const char* expected;
    } cases[] = {
        {"/Root/docs/report.pdf", false, "report (2).pdf"},
        {"/photos", true, "photos (2)"},
        {"/new.txt", false, "new.txt"},
        {"/Root/README", false, "README (1)"},
        {"/.profile", false, ".profile (1)"},
        {"/archive.tar.gz", false, "archive.tar (1).gz"},
        {"/a%2b.txt", false, "a%2b (1).txt"},
        // A folder's name has no extension.
        {"/report.pdf", true, "report.pdf (1)"},
        // A dangling link still holds its name; a path without "/" is the name itself.
        {"ghost.txt", false, "ghost (1).txt"},
        {"/Root/中文 报告.txt", false, "中文 报告.txt"},
        // A download's temporary file holds its final name too; a service name that looks
        // like one is always numbered, as a whole.
        {"/left.bin", false, "left (1).bin"},
        {"/Root/n.tovutmp", false, "n.tovutmp (1)"},
        {"/left.bin.tovutmp", false, "left.bin.tovutmp (1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FreeLocalPath(QString::fromUtf8(c.servicePath), Folder(), c.isFolder),
                  In(c.expected))
            << c.servicePath;
    }
}

TEST_F(FreeLocalPathTest, PathsChosenEarlierInABatchCountAsTaken) {
    const QSet<QString> reserved = {In("new.txt"), In("report (2).pdf")};
    EXPECT_EQ(FreeLocalPath("/b/new.txt", Folder(), false, reserved), In("new (1).txt"));
    EXPECT_EQ(FreeLocalPath("/report.pdf", Folder(), false, reserved), In("report (3).pdf"));
}

TEST_F(FreeLocalPathTest, JoinsAFolderWithATrailingSeparatorOnce) {
    EXPECT_EQ(FreeLocalPath("/Root/report.pdf", Folder() + "/", false), In("report (2).pdf"));
}

TEST_F(FreeLocalPathTest, EmptyInputsGiveNoPath) {
    EXPECT_TRUE(FreeLocalPath("", Folder(), false).isEmpty());
    EXPECT_TRUE(FreeLocalPath("/Root/report.pdf", "", false).isEmpty());
}

TEST(IsPlainName, AcceptsOnlyOneSegment) {
    const struct {
        QString name;
        bool plain;
    } cases[] = {
        {"report.pdf", true},
        {QString::fromUtf8("中文 报告.txt"), true},
        {".profile", true},
        {"...", true},
        {"name ", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"/", false},
        {"..\\up", false},
        {"a\\b", false},
        {QString::fromUtf16(u"a\0b", 3), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPlainName(c.name), c.plain) << c.name.toStdString();
    }
}

} // namespace
