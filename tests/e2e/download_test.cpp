// Whole downloads of share links through the transfer manager: what arrives in the save folder,
// and what pausing, resuming and deleting a running download leave there.
#include "e2e/e2e_fixture.h"

#include "engine/tovu_trans_mgr.h"
#include "service_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace e2e_testing {
namespace {

namespace fs = std::filesystem;

using parvex_service::Fault;
using ::testing::IsEmpty;
using testing_support::WaitUntil;

TEST_F(E2eTest, LinksArriveByteForByteUnderTheirNames) {
    struct Case {
        const char* code;
        const char* password;
        const char* name; // of the link's item in the save folder
    };
    const Case cases[] = {
        // Nested folders, an empty one, files of 0 and 1 bytes, exactly one part, one part and
        // a byte, and a file big enough to be split across workers.
        {"Tree1", kPassword, "Tree"},
        {"One1", "", "single.iso"},
        // Blanks and Chinese characters in the names of a file and a folder.
        {"Names1", "", "Mixed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string id = AddLinkTask(c.code, c.password);
        ASSERT_EQ(id.size(), 32u) << id;
        const Status end = WaitForEnd(id);
        EXPECT_EQ(end.state, "StateCompleted") << end.errorCode << " " << end.errorInfo;
        for (const Status& sub : SubTasks(id)) {
            EXPECT_EQ(sub.state, "StateCompleted")
                << sub.key << ": " << sub.errorCode << " " << sub.errorInfo;
        }
        EXPECT_TRUE(TreeMatches(c.code, SaveFolder() + "/" + c.name));
        EXPECT_THAT(TempFilesBelow(SaveFolder()), IsEmpty());
    }
    EXPECT_GT(Downloads("Tree1/big.bin").size(), 1u) << "the big file was fetched in one range";
    EXPECT_THAT(Downloads("Tree1/empty.bin"), IsEmpty());
}

TEST_F(E2eTest, APausedDownloadResumesWithThePartsItMissed) {
    Server().AddFault(
        Fault::SlowBody("/v2/delivery/download/Slow1", kSlowChunkDelayMs, kSlowChunk));
    const std::string id = AddLinkTask("Slow1");
    const std::string local = SaveFolder() + "/slow.bin";
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::vector<Status> subs = SubTasks(id);
            return subs.size() == 1 && subs[0].completeBytes >= kMiB;
        },
        kDeadline));

    GetTransMgr()->PauseTask(id.c_str());
    ASSERT_TRUE(WaitForState(id, "StatePaused"));
    ASSERT_TRUE(WaitUntil([&] { return LiveWorkers(id) == 0; }, kDeadline));
    const std::uint64_t kept = SubTask(id, "/Slow1").completeBytes;
    EXPECT_FALSE(fs::exists(local));
    EXPECT_THAT(TempFilesBelow(SaveFolder()), ::testing::ElementsAre(local + ".tovutmp"));

    Server().ClearFaults();
    Server().ClearRequests();
    GetTransMgr()->StartTask(id.c_str());
    const Status end = WaitForEnd(id);
    EXPECT_EQ(end.state, "StateCompleted") << end.errorCode << " " << end.errorInfo;
    EXPECT_TRUE(TreeMatches("Slow1", local));
    EXPECT_THAT(TempFilesBelow(SaveFolder()), IsEmpty());
    const auto again = Downloads("Slow1");
    ASSERT_FALSE(again.empty());
    EXPECT_GE(RangeStart(again.front()), static_cast<std::int64_t>(kept))
        << "parts written before the pause were fetched again";
    EXPECT_EQ(RangeStart(again.front()) % static_cast<std::int64_t>(kMiB), 0);
}

TEST_F(E2eTest, ADeletedTaskLeavesNoTemporaryFiles) {
    Server().AddFault(
        Fault::SlowBody("/v2/delivery/download/Gone1", kSlowChunkDelayMs, kSlowChunk));
    const std::string id = AddLinkTask("Gone1");
    ASSERT_TRUE(WaitUntil([&] { return TempFilesBelow(SaveFolder()).size() == 2; }, kDeadline));

    GetTransMgr()->DeleteTask(id.c_str());
    ASSERT_TRUE(WaitUntil(
        [&] { return TaskStatus(id).state == "StateNone" && LiveWorkers(id) == 0; }, kDeadline));
    EXPECT_TRUE(WaitUntil([&] { return TempFilesBelow(SaveFolder()).empty(); }))
        << ::testing::PrintToString(TempFilesBelow(SaveFolder()));
    for (const char* name : {"a.bin", "b.bin"}) {
        EXPECT_FALSE(fs::exists(SaveFolder() + "/Gone/" + name)) << name;
    }
}

} // namespace
} // namespace e2e_testing
