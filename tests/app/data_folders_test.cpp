#include "app/data_folders.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(DataFolders, RootComesFromParvexHomeThenXdgThenHome) {
    TempDir dir;
    struct Case {
        std::optional<std::string> parvexHome, xdg, home;
        std::string expectedRoot;
    };
    const std::vector<Case> cases = {
        {dir.File("p"), dir.File("x"), dir.Path(), dir.File("p")},
        {std::nullopt, dir.File("x"), dir.Path(), dir.File("x")},
        {std::string(), "relative/ignored", dir.Path(), dir.Path() + "/.local/share"},
        {std::nullopt, std::nullopt, dir.Path(), dir.Path() + "/.local/share"},
    };
    for (const Case& c : cases) {
        ScopedEnv p("PARVEX_HOME", c.parvexHome), x("XDG_DATA_HOME", c.xdg), h("HOME", c.home);
        EXPECT_EQ(GetDataRoot(), c.expectedRoot);
    }
}

TEST(DataFolders, EveryLevelIsCreatedWhenAPathBelowItIsAskedFor) {
    TempDir dir;
    ScopedEnv home("PARVEX_HOME", dir.File("home"));
    const std::string app = dir.File("home/Varnok/VarnokData3/Parvex");

    EXPECT_EQ(GetSettingsFilePath(), app + "/Parvex.xml");
    EXPECT_TRUE(fs::is_directory(app));
    EXPECT_FALSE(fs::exists(app + "/Log"));

    EXPECT_EQ(GetLogFilePath(), app + "/Log/parvex.log");
    EXPECT_TRUE(fs::is_directory(app + "/Log"));
    EXPECT_EQ(GetVendorDataFolder(), dir.File("home/Varnok/VarnokData3"));
    EXPECT_EQ(GetAppDataFolder(), app);
    EXPECT_EQ(GetLogFolder(), app + "/Log");
}

TEST(DataFolders, AFolderThatCannotBeCreatedStillYieldsItsPath) {
    TempDir dir;
    WriteFile(dir.File("blocker"), "a file where a folder should be");
    ScopedEnv home("PARVEX_HOME", dir.File("blocker"));
    EXPECT_EQ(GetLogFilePath(), dir.File("blocker/Varnok/VarnokData3/Parvex/Log/parvex.log"));
}
