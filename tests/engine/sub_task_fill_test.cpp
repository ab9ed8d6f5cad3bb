#include "engine/engine_log.h"
#include "engine/sub_task_fill.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_logMutex;
std::vector<std::string> g_errors;

void CaptureLog(int level, const char* text) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (level == kEngineLogError) {
        g_errors.emplace_back(text);
    }
}

class FillSubTaskInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_errors.clear();
        SetEngineLogHook(&CaptureLog);
    }
    void TearDown() override { SetEngineLogHook(nullptr); }

    static CTaskInfo LinkTask() {
        CTaskInfo task;
        task.task_id = "TID";
        task.box_file.path = "https://svc.test/v2/delivery/download/CODE1/Reports";
        task.box_file.pathtype = "ent";
        task.box_file.neid = "n";
        task.box_file.metaurl = "https://svc.test/v2/delivery/metadata/CODE1/Reports";
        task.box_file.remaincounturl = "https://svc.test/remain/CODE1";
        task.local_file.path = "/save/Reports";
        return task;
    }

    static CTaskInfo StorageTask() {
        CTaskInfo task;
        task.task_id = "TID";
        task.box_file.path = "/Team/Reports";
        task.local_file.path = "/save/Reports";
        return task;
    }

    static SubTaskSummary Summary(std::string path, std::uint64_t size = 3) {
        SubTaskSummary summary;
        summary.path = std::move(path);
        summary.size = size;
        summary.state = kStateWaiting;
        summary.finger_mark = "FP";
        summary.add_time = 42;
        summary.transmethod = 2;
        return summary;
    }
};

TEST_F(FillSubTaskInfoTest, CopiesTheSummaryAndTheTask) {
    const CTaskInfo task = LinkTask();
    CSubTaskInfo out;
    ASSERT_TRUE(FillSubTaskInfo(
        task, Summary("https://svc.test/v2/delivery/download/CODE1/Reports/a.txt", 1048577), out));
    EXPECT_EQ(out.task_id, "TID");
    EXPECT_EQ(out.sub_task_path, "https://svc.test/v2/delivery/download/CODE1/Reports/a.txt");
    EXPECT_EQ(out.state, kStateWaiting);
    EXPECT_EQ(out.size, 1048577u);
    EXPECT_EQ(out.add_time, 42u);
    EXPECT_EQ(out.transmethod, 2);
    EXPECT_EQ(out.local_file, (LocalFileInfo{"/save/Reports/a.txt", 1048577, ""}));
    EXPECT_EQ(out.box_file.path, out.sub_task_path);
    EXPECT_EQ(out.box_file.rev, "FP");
    EXPECT_EQ(out.box_file.neid, "");
    EXPECT_EQ(out.box_file.size, 1048577u);
    EXPECT_EQ(out.box_file.metaurl, task.box_file.metaurl);
    EXPECT_EQ(out.trans_bitmap.ToText(), ""); // grows as parts arrive
}

TEST_F(FillSubTaskInfoTest, LocalPathsOfLinkAndStorageItems) {
    struct Case {
        const char* name;
        CTaskInfo task;
        std::string summaryPath;
        std::string local;
    };
    CTaskInfo codeWithQuery = LinkTask();
    codeWithQuery.box_file.metaurl = "https://svc.test/v2/delivery/metadata/CODE1?token=t";
    CTaskInfo linkRoot = LinkTask();
    linkRoot.box_file.path = "https://svc.test/v2/delivery/download/CODE1";
    const Case cases[] = {
        {"file", LinkTask(), "https://svc.test/v2/delivery/download/CODE1/Reports/a.txt",
         "/save/Reports/a.txt"},
        {"nested", LinkTask(), "https://svc.test/v2/delivery/download/CODE1/Reports/x/y/b.bin",
         "/save/Reports/x/y/b.bin"},
        // A link item's address holds its names to the end, "?" and "#" included.
        {"names with ? and #", LinkTask(),
         "https://svc.test/v2/delivery/download/CODE1/Reports/a?t=1#x", "/save/Reports/a?t=1#x"},
        {"another address's query cut", LinkTask(), "https://svc.test/eodfile/CODE1/Reports/a?t=1",
         "/save/Reports/a"},
        {"code before a query", codeWithQuery,
         "https://svc.test/v2/delivery/download/CODE1/Reports/c", "/save/Reports/c"},
        {"link root", linkRoot, "https://svc.test/v2/delivery/download/CODE1/Reports",
         "/save/Reports/Reports"},
        {"backslash becomes a separator", LinkTask(),
         "https://svc.test/v2/delivery/download/CODE1/Reports/d\\e", "/save/Reports/d/e"},
        {"same as the task", LinkTask(), "https://svc.test/v2/delivery/download/CODE1/Reports",
         "/save/Reports"},
        {"storage", StorageTask(), "/Team/Reports/2024/q1.xlsx", "/save/Reports/2024/q1.xlsx"},
        {"storage doubled separators", StorageTask(), "/Team//Reports//q2.xlsx",
         "/save/Reports/q2.xlsx"},
    };
    for (const Case& c : cases) {
        CSubTaskInfo out;
        EXPECT_TRUE(FillSubTaskInfo(c.task, Summary(c.summaryPath), out)) << c.name;
        EXPECT_EQ(out.local_file.path, c.local) << c.name;
    }
    EXPECT_TRUE(g_errors.empty());
}

TEST_F(FillSubTaskInfoTest, FailuresAreReportedLoggedAndKeepTheTaskPath) {
    struct Case {
        const char* name;
        CTaskInfo task;
        std::string summaryPath;
        std::string logged; // start of the error line
    };
    CTaskInfo noMeta = LinkTask();
    noMeta.box_file.metaurl.clear();
    CTaskInfo otherMeta = LinkTask();
    otherMeta.box_file.metaurl = "https://svc.test/v2/other/CODE1";
    CTaskInfo baseWithoutCode = LinkTask();
    baseWithoutCode.box_file.path = "https://svc.test/v2/delivery/download/OTHER/Reports";
    const Case cases[] = {
        {"no meta url", noMeta, "https://svc.test/v2/delivery/download/CODE1/Reports/a",
         "FillSubTaskInfo: boxFileInfo.m_strMetaUrl is empty"},
        {"meta url without marker", otherMeta,
         "https://svc.test/v2/delivery/download/CODE1/Reports/a",
         "FillSubTaskInfo: boxFileInfo.m_strMetaUrl can't find [/delivery/metadata/]: "
         "https://svc.test/v2/other/CODE1"},
        {"item without code", LinkTask(), "https://svc.test/v2/delivery/download/ZZZ/a",
         "FillSubTaskInfo: dbItem.m_strPath error: https://svc.test/v2/delivery/download/ZZZ/a"},
        {"base without code", baseWithoutCode,
         "https://svc.test/v2/delivery/download/CODE1/Reports/a",
         "FillSubTaskInfo: boxFileInfo.m_strPath error: "},
        {"outside the task", StorageTask(), "/Team/Other/a.txt", "FillSubTaskInfo: "},
        {"sibling with a longer name", StorageTask(), "/Team/Reports2/a.txt", "FillSubTaskInfo: "},
    };
    for (const Case& c : cases) {
        g_errors.clear();
        CSubTaskInfo out;
        EXPECT_FALSE(FillSubTaskInfo(c.task, Summary(c.summaryPath), out)) << c.name;
        EXPECT_EQ(out.local_file.path, "/save/Reports") << c.name;
        ASSERT_EQ(g_errors.size(), 1u) << c.name;
        EXPECT_EQ(g_errors[0].rfind(c.logged, 0), 0u) << c.name << ": " << g_errors[0];
    }
}

TEST_F(FillSubTaskInfoTest, PathsThatWouldEscapeTheFolderAreRefused) {
    const std::string link = "https://svc.test/v2/delivery/download/CODE1/Reports/";
    struct Case {
        CTaskInfo task;
        std::string summaryPath;
    };
    const Case cases[] = {
        {LinkTask(), link + "../escape.txt"},
        {LinkTask(), link + "..\\escape.txt"},
        {LinkTask(), link + "a/../../escape.txt"},
        {LinkTask(), link + "a/.."},
        {LinkTask(), link + "./a"},
        {LinkTask(), link + std::string("a\0b", 3)},
        {StorageTask(), "/Team/Reports/../../etc/passwd"},
        {StorageTask(), "/Team/Reports/..\\..\\x"},
        {StorageTask(), "/Team/Reports//..//x"},
    };
    for (const Case& c : cases) {
        g_errors.clear();
        CSubTaskInfo out;
        EXPECT_FALSE(FillSubTaskInfo(c.task, Summary(c.summaryPath), out)) << c.summaryPath;
        EXPECT_EQ(out.local_file.path, "/save/Reports") << c.summaryPath;
        EXPECT_EQ(g_errors.size(), 1u) << c.summaryPath;
    }
    // Names that merely contain dots are ordinary names.
    CSubTaskInfo out;
    EXPECT_TRUE(FillSubTaskInfo(LinkTask(), Summary(link + "..a/b..c/...txt"), out));
    EXPECT_EQ(out.local_file.path, "/save/Reports/..a/b..c/...txt");
}

TEST_F(FillSubTaskInfoTest, FolderSubTaskHasNoParts) {
    SubTaskSummary summary = Summary("/Team/Reports/sub", 0);
    summary.is_folder = true;
    CSubTaskInfo out;
    ASSERT_TRUE(FillSubTaskInfo(StorageTask(), summary, out));
    EXPECT_TRUE(out.is_folder);
    EXPECT_EQ(out.trans_bitmap.BitCount(), 0u);
    EXPECT_EQ(out.local_file.path, "/save/Reports/sub");
}

} // namespace
