// Whole downloads from a service that refuses, breaks off, misnames or ignores what the client
// asks: what fails, with which code, and that no file is ever corrupted or written elsewhere.
#include "e2e/e2e_fixture.h"

#include "service_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace e2e_testing {
namespace {

namespace fs = std::filesystem;

using parvex_service::Fault;
using parvex_service::FaultKind;
using ::testing::IsEmpty;
using testing_support::WaitUntil;

TEST_F(E2eTest, AFileOfACountedLinkDownloadsOnlyWhileDownloadsRemain) {
    struct Case {
        int remaining;
        const char* state;
        int errorCode;
        const char* errorInfo;
    };
    const Case cases[] = {
        {0, "StateError", 20107, "The number of downloads of this link has reached a limit!"},
        {2, "StateCompleted", 0, ""},
    };
    const std::string token = Authenticate("Count1");
    DeliveryMetadata item = LinkRoot("Count1", token);
    // A file listed without its address: the preparation asks for the remaining count.
    item.downloadUrl.clear();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remaining);
        Server().SetRemainingCount("Count1", c.remaining);
        Server().ClearRequests();
        const std::string folder = SaveFolder() + "/" + std::to_string(c.remaining);
        ASSERT_TRUE(fs::create_directory(folder));

        const Status end = WaitForEnd(AddTask("Count1", item, token, folder));
        EXPECT_EQ(end.state, c.state);
        EXPECT_EQ(end.errorCode, c.errorCode);
        EXPECT_EQ(end.errorInfo, c.errorInfo);
        if (c.errorCode == 0) {
            EXPECT_TRUE(TreeMatches("Count1", folder + "/limited.pdf"));
        } else {
            EXPECT_THAT(Downloads("Count1"), IsEmpty());
            EXPECT_FALSE(fs::exists(folder + "/limited.pdf"));
        }
    }
}

TEST_F(E2eTest, ACutConnectionIsTakenOverAtThePartWhereItBroke) {
    Server().AddFault(Fault::CutAfter("/v2/delivery/download/Cut1", 2 * kMiB + kMiB / 2, 1));
    const std::string id = AddLinkTask("Cut1");
    const Status end = WaitForEnd(id);
    EXPECT_EQ(end.state, "StateCompleted") << end.errorCode << " " << end.errorInfo;
    EXPECT_TRUE(TreeMatches("Cut1", SaveFolder() + "/cut.bin"));
    EXPECT_THAT(TempFilesBelow(SaveFolder()), IsEmpty());
    const auto requests = Downloads("Cut1");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RangeStart(requests[0]), 0);
    EXPECT_EQ(RangeStart(requests[1]), static_cast<std::int64_t>(2 * kMiB))
        << "the two whole parts before the cut are kept";
}

TEST_F(E2eTest, AForbiddenDownloadFailsWithoutRetry) {
    Server().AddFault(
        Fault::Error("/v2/delivery/download/Deny1/no.bin", "forbidden", "Not for you", 403));
    const std::string id = AddLinkTask("Deny1");
    const Status end = WaitForEnd(id);
    EXPECT_EQ(end.state, "StateError");
    EXPECT_EQ(end.errorCode, 20006);
    const Status denied = SubTask(id, "/no.bin");
    EXPECT_EQ(denied.state, "StateError");
    EXPECT_EQ(denied.errorCode, 20006);
    EXPECT_EQ(denied.errorInfo, "Not for you");
    EXPECT_FALSE(fs::exists(SaveFolder() + "/Deny/no.bin"));
    EXPECT_TRUE(FileMatches("Deny1", "/Deny/ok.txt", SaveFolder() + "/Deny/ok.txt"));

    ASSERT_TRUE(WaitUntil([&] { return LiveWorkers(id) == 0; }, kDeadline));
    EXPECT_EQ(Downloads("Deny1/no.bin").size(), 1u);
}

TEST_F(E2eTest, AChildNamedToClimbOutOfItsFolderIsRefused) {
    Server().AddFault(
        Fault::Rewrite("/v2/delivery/metadata/Esc1", "/escape.txt", "/../escape.txt"));
    const std::string id = AddLinkTask("Esc1");
    const Status end = WaitForEnd(id);
    EXPECT_EQ(end.state, "StateError");
    EXPECT_EQ(end.errorCode, 20108);
    EXPECT_EQ(SubTask(id, "/../escape.txt").errorCode, 20108);
    EXPECT_TRUE(FileMatches("Esc1", "/Esc/keep.txt", SaveFolder() + "/Esc/keep.txt"));
    EXPECT_TRUE(FileMatches("Esc1", "/Esc/inner/deep.txt", SaveFolder() + "/Esc/inner/deep.txt"));

    // Neither beside the save folder nor anywhere in it, not even as a temporary file.
    std::vector<std::string> escaped;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Outside())) {
        if (entry.path().filename().string().starts_with("escape.txt")) {
            escaped.push_back(entry.path().string());
        }
    }
    EXPECT_THAT(escaped, IsEmpty());
}

TEST_F(E2eTest, AServiceIgnoringRangesNeverCorruptsAFile) {
    // Added first, so it wins once: the cut leaves the rest of large.bin to a range that does
    // not start at 0, which the service then answers with the whole file.
    Server().AddFault(Fault::CutAfter("/v2/delivery/download/Ign1/large.bin", kMiB + kMiB / 2, 1));
    Server().AddFault(Fault::Make("/v2/delivery/download/Ign1", FaultKind::IgnoreRange));
    const std::string id = AddLinkTask("Ign1");
    const Status end = WaitForEnd(id);
    ASSERT_THAT(end.state, ::testing::AnyOf("StateCompleted", "StateError"));

    EXPECT_EQ(SubTask(id, "/small.txt").state, "StateCompleted");
    for (const char* name : {"small.txt", "large.bin"}) {
        const std::string local = SaveFolder() + "/Ign/" + name;
        const bool completed = SubTask(id, std::string("/") + name).state == "StateCompleted";
        if (completed || fs::exists(local)) {
            EXPECT_TRUE(FileMatches("Ign1", std::string("/Ign/") + name, local));
        }
    }
}

} // namespace
} // namespace e2e_testing
