#include "net/service_calls.h"
#include "net/service_request.h"

#include "engine/engine_context.h"
#include "engine/platform_error.h"
#include "net/http_options.h"
#include "net/net_fixture.h"
#include "net/script_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

// A storage listing of folder /d with the children "/d/<i>" of <i> bytes, i in [first, end).
std::string FolderPage(int first, int end) {
    std::string children;
    for (int i = first; i < end; ++i) {
        children += std::string(children.empty() ? "" : ",") + "{\"path\":\"/d/" +
                    std::to_string(i) + "\",\"bytes\":" + std::to_string(i) + "}";
    }
    return "{\"path\":\"/d\",\"is_dir\":true,\"content\":[" + children + "]}";
}

using ServiceRequestTest = NetTest;

TEST(ServiceTextTest, ParamsAndPercentEncoding) {
    EXPECT_EQ(JoinParams({{"offset", "0"}, {"limit", "5"}, {"from", "x y"}}),
              "from=x y&limit=5&offset=0");
    EXPECT_EQ(JoinParams({}), "");
    EXPECT_EQ(PercentEncode("/a b/中!'()*-._~+=%"), "/a%20b/%e4%b8%ad!'()*-._~%2b%3d%25");
}

TEST(ServiceTextTest, ErrorCodesMapInTheirOrder) {
    const struct {
        const char* code;
        int result;
    } cases[] = {
        {"Invalid session", 20003},        {"the token is not exist any more", 20003},
        {"invalid session", 20001},        {"target name exists", 20004},
        {"folder_already_existed", 20004}, {"source not found", 20005},
        {"nameentry_not_exist", 20005},    {"file/folder not found", 20005},
        {"access forbidden", 20006},       {"Forbidden", 20001},
        {"path_too_long", 20007},          {"over space limit", 20008},
        {"the file is locked now", 20009}, {"", 20001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MapServerError(c.code), c.result) << c.code;
    }
}

TEST(ServiceTextTest, RepliesAreJudgedByTheirBodyNotTheirStatus) {
    const struct {
        int status;
        const char* body;
        int result;
    } cases[] = {
        {200, "", 20002},
        {200, "not json", 20002},
        {200, "{\"a\":1", 20002},
        {404, "{\"message\":\"no type\"}", 0},
        {200, "[1,2]", 0},
        {200, "{\"type\":\"Error\",\"code\":\"forbidden\"}", 0},
        {500,
         "{\"type\":\"error\",\"state\":7,\"code\":\"forbidden\",\"message\":\"m\","
         "\"request_id\":\"r\"}",
         20006},
    };
    for (const auto& c : cases) {
        ServiceReply reply;
        reply.status = c.status;
        reply.body = c.body;
        EXPECT_EQ(CheckErrorReply(reply), c.result) << c.body;
    }
    ServiceReply reply;
    reply.body = "{\"type\":\"error\",\"state\":7,\"code\":\"forbidden\",\"message\":\"m\","
                 "\"request_id\":\"r\"}";
    CheckErrorReply(reply);
    EXPECT_EQ(reply.errorType, "error");
    EXPECT_EQ(reply.errorState, 7);
    EXPECT_EQ(reply.errorCode, "forbidden");
    EXPECT_EQ(reply.errorMessage, "m");
    EXPECT_EQ(reply.requestId, "r");
}

// Members of the wrong type read as empty values; numbers in text still count.
TEST(ServiceTextTest, ItemsReadMembersOfAnyType) {
    rapidjson::Document document;
    document.Parse("{\"bytes\":\"5368709120\",\"is_dir\":\"true\",\"path\":7,"
                   "\"neid\":1.9,\"rev\":[1],\"download_url\":null,\"access_mode\":true,"
                   "\"content\":{\"x\":1},\"search_result\":[{\"path\":\"/a\"}]}");
    DeliveryListing listing;
    ReadListing(document, listing);
    EXPECT_EQ(listing.item.size, 5368709120);
    EXPECT_FALSE(listing.item.isFolder);
    EXPECT_EQ(listing.item.path, "7");
    EXPECT_EQ(listing.item.neid, "1");
    EXPECT_EQ(listing.item.rev, "");
    EXPECT_EQ(listing.item.downloadUrl, "");
    EXPECT_EQ(listing.item.accessMode, 0);
    EXPECT_TRUE(listing.children.empty()); // "content" is there but not an array

    document.Parse("[{\"path\":\"/a\"}]");
    ReadListing(document, listing);
    EXPECT_EQ(listing.item.path, "");
    EXPECT_TRUE(listing.children.empty());
}

TEST_F(ServiceRequestTest, AHugeReplyIsRefusedNotHeld) {
    const std::string huge((64u << 20) + 1, 'x');
    ScriptServer server([&](const ScriptServer::Request&, ScriptServer::Connection& c) {
        c.Reply(200, huge);
        return false;
    });
    ServiceReply reply;
    EXPECT_EQ(GetJson(server.Url("/huge"), reply), platform_error::kInvalidServerResponse);
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(ServiceRequestTest, CallsCarryTheirQueryBodyAndCookies) {
    ScriptServer server([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, "{\"public_key\":\"K\",\"isLoginVerify\":true,\"uid\":\"U\","
                            "\"account_id\":7}");
    });
    GetEngineContext().settings.SetOption(kOptionServiceAddress, server.Url(""));
    ServiceReply reply;
    ASSERT_EQ(GetPublicKey(server.Url(""), reply), 0);
    EXPECT_EQ(reply.resultText, "K");
    GetEngineContext().settings.SetOption(kOptionSessionText, "S1");
    ASSERT_EQ(IsLoginVerify(server.Url(""), "CODE", reply), 0);
    EXPECT_TRUE(reply.resultFlag);
    ASSERT_EQ(GetUserInfo(reply), 0);
    EXPECT_EQ(reply.resultText, "U");
    EXPECT_EQ(reply.secondResultText, "7");
    ASSERT_EQ(GetJsonPage(server.Url("/list?token=T"), 200, reply), 0);
    ASSERT_EQ(AuthenticateDelivery(server.Url(""), "CODE", "a+b=", reply), 0);
    BoxFileInfo box;
    box.path = "/Team/a b";
    box.pathtype = "ent";
    box.neid = "9&limit=1#x"; // from the service: it cannot add parameters
    BoxListing listing;
    ASSERT_EQ(ListFolder(box, 50, 10, false, listing), 0);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0].requestLine, "GET /v2/system/get_publickey HTTP/1.1");
    EXPECT_EQ(requests[0].Header("Cookie"), "language=en");
    EXPECT_EQ(requests[1].requestLine, "GET /v2/delivery/is_login_verify/CODE HTTP/1.1");
    EXPECT_EQ(requests[1].Header("Cookie"), "X-VARNOK-SESS-ID=S1;language=en");
    EXPECT_EQ(requests[2].requestLine, "GET /v2/user/info/get HTTP/1.1");
    EXPECT_EQ(requests[3].requestLine, "GET /list?token=T&offset=200 HTTP/1.1");
    EXPECT_EQ(requests[4].requestLine, "POST /v2/delivery/auth/CODE HTTP/1.1");
    EXPECT_EQ(requests[4].body, "password=a%2bb%3d");
    EXPECT_EQ(requests[5].requestLine,
              "GET /v2/metadata/databox/Team/a%20b?from=&include_deleted=false&limit=50&"
              "list=false&neid=9%26limit%3d1%23x&offset=10&path_type=ent&prefix_neid= HTTP/1.1");
}

TEST_F(ServiceRequestTest, LinkResolutionReadsBothReplyForms) {
    ScriptServer server([](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        const std::string& line = r.requestLine;
        if (line.starts_with("GET /s/moved")) {
            return c.Reply(302, "", {"Location: http://svc/link/view/CODE"});
        }
        if (line.starts_with("GET /s/empty302")) {
            return c.Reply(302, "");
        }
        if (line.starts_with("GET /s/aborted")) {
            return c.Reply(200, "{\"code\":\"12030\",\"msg\":\"cut\"}");
        }
        if (line.starts_with("GET /s/limit")) {
            return c.Reply(200, "{\"code\":\"20107\",\"msg\":\"too many\",\"state\":3}");
        }
        if (line.starts_with("GET /s/words")) {
            return c.Reply(200, "{\"code\":\"nope\",\"msg\":\"m\"}");
        }
        if (line.starts_with("GET /s/array")) {
            return c.Reply(200, "[]");
        }
        return c.Reply(200, "");
    });
    const struct {
        const char* path;
        int result;
        const char* text;
        const char* message;
    } cases[] = {
        {"/s/moved", 0, "http://svc/link/view/CODE", ""},
        {"/s/empty302", 20002, "", ""},
        {"/s/aborted", 12030, "", "The connection with the server was terminated abnormally."},
        {"/s/limit", 20107, "", "too many"},
        {"/s/words", 20001, "", "m"},
        {"/s/array", 0, "", ""},
        {"/s/empty", 20002, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ServiceReply reply;
        EXPECT_EQ(ResolveLinkAddress(server.Url(c.path), reply), c.result);
        EXPECT_EQ(reply.resultText, c.text);
        EXPECT_EQ(reply.errorMessage, c.message);
    }
    ServiceReply reply;
    EXPECT_EQ(ResolveLinkAddress("http://127.0.0.1:1/s/x", reply), platform_error::kCannotConnect);
}

TEST_F(ServiceRequestTest, WholeFoldersArePagedBy200) {
    ScriptServer server([](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        const std::size_t at = r.requestLine.find("offset=");
        const int offset = std::stoi(r.requestLine.substr(at + 7));
        return c.Reply(200, FolderPage(offset, std::min(offset + 200, 450)));
    });
    GetEngineContext().settings.SetOption(kOptionServiceAddress, server.Url(""));
    BoxFileInfo box;
    box.path = "/d";
    BoxListing listing;
    ASSERT_EQ(ListFolderAll(box, 0, 77, false, listing), 0);
    EXPECT_EQ(listing.children.size(), 450u);
    EXPECT_EQ(listing.children[449].size, 449);
    EXPECT_TRUE(listing.item.isFolder);
    std::vector<std::string> offsets;
    for (const auto& request : server.Requests()) {
        const std::size_t at = request.requestLine.find("offset=");
        offsets.push_back(request.requestLine.substr(at, request.requestLine.find('&', at) - at));
        EXPECT_NE(request.requestLine.find("limit=200&list=true"), std::string::npos);
    }
    EXPECT_THAT(offsets, ElementsAre("offset=0", "offset=200", "offset=400"));

    BoxListing small;
    ASSERT_EQ(ListFolderAll(box, 20, 3, false, small), 0);
    EXPECT_NE(server.Requests().back().requestLine.find("limit=20&list=false&neid=&offset=3"),
              std::string::npos);
}

TEST_F(ServiceRequestTest, AWholeFolderWhosePagesRepeatEndsWith20111) {
    // Every offset answers the first page.
    ScriptServer server([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, FolderPage(0, 200));
    });
    GetEngineContext().settings.SetOption(kOptionServiceAddress, server.Url(""));
    BoxFileInfo box;
    box.path = "/d";
    BoxListing listing;
    EXPECT_EQ(ListFolderAll(box, 0, 0, true, listing), 20111);
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_FALSE(listing.errorMessage.empty());
}

} // namespace
