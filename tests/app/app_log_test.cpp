#include "app/app_log.h"
#include "app/data_folders.h"
#include "log/sync_my_log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

using testing_support::ReadLines;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(AppLog, InformationMarkerSwitchesInformationLinesOn) {
    TempDir dir;
    EXPECT_EQ(LogLevelForFolder(dir.Path()), 2);
    std::filesystem::create_directory(dir.File("Information")); // a folder counts as well
    EXPECT_EQ(LogLevelForFolder(dir.Path()), 1);
    std::filesystem::remove(dir.File("Information"));
    WriteFile(dir.File("Information"), "");
    EXPECT_EQ(LogLevelForFolder(dir.Path()), 1);
}

TEST(AppLog, OpeningCreatesTheFoldersAndClosingKeepsEveryQueuedLine) {
    TempDir dir;
    ScopedEnv home("PARVEX_HOME", dir.Path());
    CSyncMyLog* log = OpenAppLog();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(OpenAppLog(), log);
    EXPECT_EQ(GetAppLog(), log);
    EXPECT_EQ(log->GetLevel(), 2);
    EXPECT_EQ(log->GetLineName(), "Parvex");

    for (int i = 0; i < 50; ++i) {
        log->ErrorFormat("error %d", i);
        log->Info("filtered");
    }
    CloseAppLog();

    const auto lines = ReadLines(GetLogFilePath());
    ASSERT_EQ(lines.size(), 50u);
    EXPECT_NE(lines.back().find("][E][Parvex]: error 49"), std::string::npos) << lines.back();
}

TEST(AppLog, ALogFolderThatCannotBeCreatedDoesNotStopTheProgram) {
    TempDir dir;
    WriteFile(dir.File("blocker"), "");
    ScopedEnv home("PARVEX_HOME", dir.File("blocker"));
    CSyncMyLog* log = OpenAppLog();
    ASSERT_NE(log, nullptr);
    log->Error("lost, but harmlessly");
    CloseAppLog(); // returns although nothing can be written
    EXPECT_FALSE(std::filesystem::exists(GetLogFilePath()));
}
