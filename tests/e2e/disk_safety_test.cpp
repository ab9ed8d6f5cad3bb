// Downloads into a save folder where names clash or something was planted: no download ever
// overwrites another file, follows a link or writes outside its folder.
#include "e2e/e2e_fixture.h"

#include "engine/message_texts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace e2e_testing {
namespace {

namespace fs = std::filesystem;

using ::testing::IsEmpty;
using testing_support::ReadFile;
using testing_support::WriteFile;

// The file-creation mask, read without changing it for the engine's threads.
mode_t UserMask() {
    for (const std::string& line : testing_support::ReadLines("/proc/self/status")) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        }
    }
    ADD_FAILURE() << "no Umask line";
    return 022;
}

TEST_F(E2eTest, NamesThatClashInsideALinkFolderKeepEveryFile) {
    const std::string id = AddLinkTask("Clash1");
    const Status end = WaitForEnd(id);
    EXPECT_EQ(end.state, "StateCompleted") << end.errorCode << " " << end.errorInfo;
    const std::string folder = SaveFolder() + "/Clash";
    // A service name that ends like a temporary file gets the first numbered name no other
    // file of the link has.
    EXPECT_TRUE(FileMatches("Clash1", "/Clash/a.bin", folder + "/a.bin"));
    EXPECT_TRUE(FileMatches("Clash1", "/Clash/a.bin.tovutmp", folder + "/a.bin.tovutmp (2)"));
    EXPECT_TRUE(FileMatches("Clash1", "/Clash/a.bin.tovutmp (1)", folder + "/a.bin.tovutmp (1)"));
    EXPECT_TRUE(FileMatches("Clash1", "/Clash/Readme.txt", folder + "/Readme.txt"));
    EXPECT_TRUE(FileMatches("Clash1", "/Clash/README.txt", folder + "/README.txt"));
    EXPECT_THAT(TempFilesBelow(SaveFolder()), IsEmpty());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 5);
    // Finished files are the user's like any other; the engine's own are private.
    const mode_t mask = UserMask();
    EXPECT_EQ(fs::status(folder + "/a.bin").permissions(), static_cast<fs::perms>(0666 & ~mask));
}

TEST_F(E2eTest, WhatWasPlantedInTheSaveFolderIsNeverFollowedOrReplaced) {
    const std::string folder = SaveFolder() + "/Plant";
    const std::string target = Outside() + "/target.txt";
    ASSERT_TRUE(fs::create_directory(folder));
    WriteFile(target, "the victim");
    fs::create_symlink(target, folder + "/temp-link.txt.tovutmp");
    fs::create_symlink(target, folder + "/final-link.txt");
    WriteFile(folder + "/taken.txt", "the user's own");

    const std::string token = Authenticate("Plant1");
    const std::string id = AddTask("Plant1", LinkRoot("Plant1", token), token, SaveFolder());
    const Status end = WaitForEnd(id);
    EXPECT_EQ(end.state, "StateError");

    // A link at the temporary name fails its file with 20108 and is left as it was.
    const Status refused = SubTask(id, "temp-link.txt");
    EXPECT_EQ(refused.state, "StateError");
    EXPECT_EQ(refused.errorCode, engine_code::kInvalidNameFromServer);
    EXPECT_TRUE(fs::is_symlink(folder + "/temp-link.txt.tovutmp"));
    EXPECT_FALSE(fs::exists(folder + "/temp-link.txt"));
    // Something at the final name keeps it: the download takes the next free name.
    EXPECT_TRUE(fs::is_symlink(folder + "/final-link.txt"));
    EXPECT_TRUE(FileMatches("Plant1", "/Plant/final-link.txt", folder + "/final-link (1).txt"));
    EXPECT_EQ(ReadFile(folder + "/taken.txt"), "the user's own");
    EXPECT_TRUE(FileMatches("Plant1", "/Plant/taken.txt", folder + "/taken (1).txt"));
    EXPECT_TRUE(FileMatches("Plant1", "/Plant/free.txt", folder + "/free.txt"));

    EXPECT_EQ(ReadFile(target), "the victim");
    EXPECT_EQ(std::distance(fs::directory_iterator(Outside()), fs::directory_iterator()), 2)
        << "nothing but the save folder and the target outside";
    EXPECT_THAT(TempFilesBelow(SaveFolder()),
                ::testing::ElementsAre(folder + "/temp-link.txt.tovutmp"));
}

} // namespace
} // namespace e2e_testing
