// Access tokens that expire on the service part-way through a download: the engine opens the
// link again with the password kept with the task, once per refusal, and goes on; a link added
// again hands its new token to its unfinished task.
#include "e2e/e2e_fixture.h"

#include "engine/delivery_url.h"
#include "engine/json_fields.h"
#include "engine/runtime_fixture.h"
#include "engine/tovu_trans_mgr.h"
#include "service_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <optional>

namespace e2e_testing {
namespace {

namespace fs = std::filesystem;

using parvex_service::Fault;
using ::testing::HasSubstr;
using testing_support::WaitUntil;

constexpr char kBigDownload[] = "/v2/delivery/download/Tree1/big.bin";
constexpr char kWrongPassword[] = "not the password";

// The access token in the task's address, as the engine reports (and stores) it.
std::string TaskToken(const std::string& taskId) {
    rapidjson::Document document;
    document.Parse(TakeText(GetTransMgr()->GetTaskInfo(taskId.c_str())).c_str());
    if (!document.IsObject() || !document.HasMember("box_file")) {
        return "(no task)";
    }
    return AddressToken(json_fields::ReadText(document["box_file"], "metaurl"));
}

class TokenTest : public E2eTest {
protected:
    // Bytes of the big file recorded so far; 0 before the preparation listed it.
    static std::uint64_t BigFileBytes(const std::string& taskId) {
        for (const Status& sub : SubTasks(taskId)) {
            if (sub.key.ends_with("/big.bin")) {
                return sub.completeBytes;
            }
        }
        return 0;
    }

    // Tree1 added to `folder` with `password` kept, its big file running slowly, paused once
    // part of it arrived; then every token expires.
    std::string PausePartWayAndExpire(const std::string& folder, const std::string& password) {
        Server().AddFault(Fault::SlowBody(kBigDownload, kSlowChunkDelayMs, kSlowChunk));
        const std::string token = Authenticate("Tree1", kPassword);
        const std::string id = AddTask("Tree1", LinkRoot("Tree1", token), token, folder, password);
        EXPECT_TRUE(WaitUntil([&] { return BigFileBytes(id) >= kMiB; }, kDeadline));
        GetTransMgr()->PauseTask(id.c_str());
        EXPECT_TRUE(WaitForState(id, "StatePaused"));
        EXPECT_TRUE(WaitUntil([&] { return LiveWorkers(id) == 0; }, kDeadline));
        Server().ExpireTokens();
        Server().ClearFaults();
        Server().ClearRequests();
        return id;
    }

    void ExpectCompleted(const std::string& id, const std::string& folder) {
        const Status end = WaitForEnd(id);
        EXPECT_EQ(end.state, "StateCompleted") << end.errorCode << " " << end.errorInfo;
        EXPECT_TRUE(TreeMatches("Tree1", folder + "/Tree"));
        EXPECT_EQ(TaskToken(id), Server().Token("Tree1"));
    }
};

TEST_F(TokenTest, ATokenExpiredBeforeThePreparationIsRenewedOnceWithTheKeptPassword) {
    const std::string token = Authenticate("Tree1", kPassword);
    const DeliveryMetadata root = LinkRoot("Tree1", token);
    Server().ExpireTokens();
    Server().ClearRequests();

    const std::string id = AddTask("Tree1", root, token, SaveFolder(), kPassword);
    ExpectCompleted(id, SaveFolder());
    EXPECT_EQ(Authentications("Tree1"), 1u);
    EXPECT_EQ(Server().LastDecryptedPassword("Tree1"), std::optional<std::string>(kPassword));
}

TEST_F(TokenTest, ATokenExpiredWhileTheEngineWasDownIsRenewedWithTheStoredPasswordAndStored) {
    const std::string id = PausePartWayAndExpire(SaveFolder(), kPassword);
    RestartEngine();
    GetTransMgr()->StartTask(id.c_str());
    ExpectCompleted(id, SaveFolder());
    // The part workers that met the refusal together shared one authentication.
    EXPECT_EQ(Authentications("Tree1"), 1u);
    EXPECT_EQ(Server().LastDecryptedPassword("Tree1"), std::optional<std::string>(kPassword));

    // The renewed token was stored with the task.
    RestartEngine();
    EXPECT_EQ(TaskToken(id), Server().Token("Tree1"));
}

TEST_F(TokenTest, ARenewalTheServiceRefusesFailsTheTaskOnceWithAClearError) {
    struct Case {
        const char* name;
        bool partWay; // else the token expired before the preparation
    };
    const Case cases[] = {{"prepare", false}, {"download", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = SaveFolder() + "/" + c.name;
        ASSERT_TRUE(fs::create_directory(folder));
        std::string id;
        if (c.partWay) {
            id = PausePartWayAndExpire(folder, kWrongPassword);
            GetTransMgr()->StartTask(id.c_str());
        } else {
            const std::string token = Authenticate("Tree1", kPassword);
            const DeliveryMetadata root = LinkRoot("Tree1", token);
            Server().ExpireTokens();
            Server().ClearRequests();
            id = AddTask("Tree1", root, token, folder, kWrongPassword);
        }
        const Status end = WaitForEnd(id);
        EXPECT_EQ(end.state, "StateError");
        EXPECT_EQ(end.errorCode, 20113);
        EXPECT_THAT(end.errorInfo, HasSubstr("could not be opened again"));
        EXPECT_THAT(end.errorInfo, HasSubstr("The password is wrong"));
        EXPECT_EQ(Authentications("Tree1"), 1u) << "no second attempt for the same refusal";
    }
}

TEST_F(TokenTest, ALinkAddedAgainAfterItsTokenExpiredGoesOnInItsTask) {
    // The kept password no longer opens the link: only adding it again can help.
    const std::string id = PausePartWayAndExpire(SaveFolder(), kWrongPassword);
    GetTransMgr()->StartTask(id.c_str());
    ASSERT_EQ(WaitForEnd(id).errorCode, 20113);

    const std::string token = Authenticate("Tree1", kPassword);
    EXPECT_EQ(AddTask("Tree1", LinkRoot("Tree1", token), token, SaveFolder(), kPassword), id)
        << "the unfinished task goes on, not a second one";
    ASSERT_TRUE(WaitUntil([&] { return TaskStatus(id).state != "StateError"; }, kDeadline));
    ExpectCompleted(id, SaveFolder());
    EXPECT_EQ(Authentications("Tree1"), 2u) << "the engine needed none of its own";
    EXPECT_FALSE(fs::exists(SaveFolder() + "/Tree (1)"));
}

} // namespace
} // namespace e2e_testing
