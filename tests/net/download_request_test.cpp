#include "net/download_request.h"

#include "engine/engine_context.h"
#include "engine/message_texts.h"
#include "net/http_options.h"
#include "net/net_fixture.h"
#include "net/script_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

std::string Content(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>(i * 31 % 251);
    }
    return body;
}

class DownloadRequestTest : public NetTest {
protected:
    static std::string ReadAll(DownloadRequest& request, int& last) {
        std::string received;
        char buffer[7000];
        while ((last = ReadSome(request, buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(last));
        }
        return received;
    }
};

TEST(DownloadUrlTest, AbsoluteUrlsAndTheStorageRouter) {
    GetEngineContext().settings.ResetToDefaults();
    GetEngineContext().settings.SetOption(kOptionServiceAddress, "https://svc");
    BoxFileInfo link;
    link.metaurl = "https://svc/v2/delivery/metadata/C/d?token=T1&x=2";
    BoxFileInfo storage;
    storage.path = "/Team/a b.txt";
    storage.pathtype = "ent";
    BoxFileInfo full = storage;
    full.neid = "N";
    full.rev = "R";
    full.prefixneid = "P";
    full.from = "F";
    const auto withPath = [](BoxFileInfo box, std::string path) {
        box.path = std::move(path);
        return box;
    };
    const struct {
        BoxFileInfo box;
        bool sync;
        std::string url;
    } cases[] = {
        {withPath(link, "HTTPS://svc/v2/delivery/download/C/a%b%c"), false,
         "HTTPS://svc/v2/delivery/download/C/a%25b%25c?token=T1&x=2"},
        {withPath(link, "https://svc/v2/delivery/download/C/d/y%41%42"), false,
         "https://svc/v2/delivery/download/C/d/y%2541%2542?token=T1&x=2"},
        {withPath(link, "https://svc/v2/delivery/download/C/d/y%41B"), false,
         "https://svc/v2/delivery/download/C/d/y%2541B?token=T1&x=2"},
        {withPath(link, "https://svc/v2/delivery/download/C/d e/a?b#c.txt"), false,
         "https://svc/v2/delivery/download/C/d%20e/a%3fb%23c.txt?token=T1&x=2"},
        {withPath(link, "https://svc/v2/delivery/download/C"), false,
         "https://svc/v2/delivery/download/C?token=T1&x=2"},
        {withPath(link, "https://svc/e/?source_path=/x"), false,
         "https://svc/e/?source_path=/x?token=T1&x=2"},
        {withPath(link, "https://svc/GetWatermarkFile?url=%2fa"), false,
         "https://svc/GetWatermarkFile?url=%252fa"},
        {withPath(BoxFileInfo{}, "http://other/file"), false, "http://other/file"},
        {storage, false, "https://svc/v2/dl_router/databox/Team/a%20b.txt?path_type=ent"},
        {full, true,
         "https://svc/v2/dl_router/databox/Team/a%20b.txt?path_type=ent&neid=N&rev=R&"
         "prefix_neid=P&from=F&op_type=sync"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DownloadUrlFor(c.box, c.sync), c.url);
    }
    EXPECT_TRUE(IsSyncGroup("{" + std::string(36, 'a') + "}"));
    EXPECT_FALSE(IsSyncGroup("{" + std::string(35, 'a') + "}"));
    EXPECT_FALSE(IsSyncGroup("(" + std::string(36, 'a') + "}"));
}

// The storage fields are the service's texts: one holding "&", "=", "#" or "%" must not add a
// parameter, end the query early or change another's value.
TEST(DownloadUrlTest, StorageFieldsCannotAddParameters) {
    GetEngineContext().settings.ResetToDefaults();
    GetEngineContext().settings.SetOption(kOptionServiceAddress, "https://svc");
    BoxFileInfo file;
    file.path = "/Team/f";
    file.pathtype = "ent&op_type=sync";
    file.neid = "1#x";
    file.rev = "r=2&rev=3";
    file.prefixneid = "p%26q";
    file.from = "a+b c";
    EXPECT_EQ(DownloadUrlFor(file, false),
              "https://svc/v2/dl_router/databox/Team/f?path_type=ent%26op_type%3dsync&neid=1%23x&"
              "rev=r%3d2%26rev%3d3&prefix_neid=p%2526q&from=a%2bb%20c");
}

// A range is handed out only when the reply is that range.
TEST_F(DownloadRequestTest, OnlyTheAskedRangeIsHandedOut) {
    const std::string file = Content(3 << 20);
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        const std::string& line = r.requestLine;
        const std::string piece = file.substr(1048576, 1048577);
        if (line.find("/good") != std::string::npos) {
            return c.Reply(206, piece, {"Content-Range: bytes 1048576-2097152/3145728"});
        }
        if (line.find("/star") != std::string::npos) {
            return c.Reply(206, piece, {"Content-Range: bytes 1048576-2097152/*"});
        }
        if (line.find("/whole") != std::string::npos) {
            return c.Reply(200, file);
        }
        if (line.find("/elsewhere") != std::string::npos) {
            return c.Reply(206, piece, {"Content-Range: bytes 0-1048576/3145728"});
        }
        if (line.find("/othersize") != std::string::npos) {
            return c.Reply(206, piece, {"Content-Range: bytes 1048576-2097152/9999999"});
        }
        if (line.find("/norange") != std::string::npos) {
            return c.Reply(206, piece);
        }
        if (line.find("/empty") != std::string::npos) {
            return c.Reply(206, "", {"Content-Range: bytes 1048576-1048576/3145728"});
        }
        return c.Reply(403, "{\"type\":\"error\",\"code\":\"forbidden\",\"message\":\"no\"}");
    });
    const struct {
        const char* path;
        std::int64_t start;
        bool opens;
        int result;
    } cases[] = {
        {"/good", 1048576, true, 0},
        {"/star", 1048576, true, 0},
        {"/whole", 0, true, 0},
        {"/whole", 1048576, false, 20109},
        {"/elsewhere", 1048576, false, 20109},
        {"/othersize", 1048576, false, 20109},
        {"/norange", 1048576, false, 20109},
        {"/empty", 1048576, true, 0},
        {"/denied", 1048576, false, 20001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " from " + std::to_string(c.start));
        DownloadRequest request;
        request.file.path = server.Url(c.path);
        request.file.size = file.size();
        request.rangeStart = c.start;
        request.rangeEnd = c.start + 1048576;
        EXPECT_EQ(OpenRange(request, false), c.opens);
        EXPECT_EQ(request.result, c.result);
        if (c.opens) {
            int last = 0;
            const std::string received = ReadAll(request, last);
            EXPECT_EQ(last, 0);
            const std::size_t expected = std::string(c.path) == "/empty" ? 0
                                         : c.start == 0                  ? file.size()
                                                                         : 1048577;
            EXPECT_TRUE(received == file.substr(static_cast<std::size_t>(c.start), expected));
        }
        CloseRange(request);
    }
    const auto requests = server.Requests();
    EXPECT_EQ(requests[0].Header("Range"), "bytes=1048576-2097152");
    EXPECT_EQ(requests[0].Header("x-varnokws-range"), "bytes=1048576-2097152");
    EXPECT_EQ(requests[0].Header("Cookie"), "language=en");

    DownloadRequest denied;
    denied.file.path = server.Url("/denied");
    ASSERT_FALSE(OpenRange(denied, false));
    ServiceReply reply;
    EXPECT_EQ(GetRangeError(denied, reply), 20006);
    EXPECT_EQ(reply.errorMessage, "no");
    EXPECT_EQ(GetErrorText(20109, "en"), "The server returned the wrong range");
}

// A reply's validator, the If-Range a request sends back, and what a 200 to it means.
TEST_F(DownloadRequestTest, IfRangeSendsTheValidatorBackAndA200ToItSaysTheFileChanged) {
    const std::string file = Content(3 << 20);
    const std::string date = "Wed, 01 May 2024 02:20:30 GMT";
    const std::string range = "Content-Range: bytes 1048576-2097152/3145728";
    const std::string modified = "Last-Modified: " + date;
    constexpr std::int64_t kMiddle = 1048576;
    const struct Case {
        const char* what;
        std::string ifRange;
        std::int64_t start;
        int status;
        std::vector<std::string> headers;
        bool opens;
        int result;
        std::string validator;
        std::size_t length = 0; // of a 200's body; 0: the whole file
    } cases[] = {
        {"a first reply gives its strong ETag",
         "",
         kMiddle,
         206,
         {range, "ETag: \"v1\"", modified},
         true,
         0,
         "\"v1\""},
        {"a weak ETag gives way to Last-Modified",
         "",
         kMiddle,
         206,
         {range, "ETag: W/\"v1\"", modified},
         true,
         0,
         date},
        {"a weak ETag alone is none", "", kMiddle, 206, {range, "ETag: W/\"v1\""}, true, 0, ""},
        {"a validator past 1 KiB is none",
         "",
         kMiddle,
         206,
         {range, "ETag: \"" + std::string(1100, 'a') + "\""},
         true,
         0,
         ""},
        {"a validator with a control character is none",
         "",
         kMiddle,
         206,
         {range, "ETag: \"a\x01z\""},
         true,
         0,
         ""},
        {"a matched ETag gets its range",
         "\"v1\"",
         kMiddle,
         206,
         {range, "ETag: \"v1\""},
         true,
         0,
         "\"v1\""},
        {"a matched date gets its range", date, kMiddle, 206, {range, modified}, true, 0, date},
        {"a 200 with another ETag: the file changed",
         "\"v1\"",
         kMiddle,
         200,
         {"ETag: \"v2\""},
         false,
         20112,
         "\"v2\""},
        {"a 200 from the first byte says so too",
         "\"v1\"",
         0,
         200,
         {"ETag: \"v2\""},
         false,
         20112,
         "\"v2\""},
        {"a 200 without a validator: changed, none left",
         "\"v1\"",
         kMiddle,
         200,
         {},
         false,
         20112,
         ""},
        {"a changed file of another size is the wrong range",
         "\"v1\"",
         kMiddle,
         200,
         {"ETag: \"v2\""},
         false,
         20109,
         "\"v2\"",
         1000},
        {"a 200 with the same ETag ignored the range: whole from 0",
         "\"v1\"",
         0,
         200,
         {"ETag: \"v1\""},
         true,
         0,
         "\"v1\""},
        {"a 200 with the same ETag ignored the range: wrong elsewhere",
         "\"v1\"",
         kMiddle,
         200,
         {"ETag: \"v1\""},
         false,
         20109,
         "\"v1\""},
    };
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        const std::size_t at = r.requestLine.find("/c");
        const Case& reply = cases[std::stoul(r.requestLine.substr(at + 2))];
        const std::string body =
            reply.status == 206 ? file.substr(1048576, 1048577)
                                : file.substr(0, reply.length != 0 ? reply.length : file.size());
        return c.Reply(reply.status, body, reply.headers);
    });
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        DownloadRequest request;
        request.file.path = server.Url("/c" + std::to_string(i));
        request.file.size = file.size();
        request.rangeStart = c.start;
        request.rangeEnd = c.start + 1048576;
        request.ifRange = c.ifRange;
        EXPECT_EQ(OpenRange(request, false), c.opens);
        EXPECT_EQ(request.result, c.result);
        EXPECT_EQ(request.validator, c.validator);
        CloseRange(request);
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), i + 1);
        EXPECT_EQ(requests.back().Header("If-Range"), c.ifRange);
    }
    EXPECT_EQ(GetErrorText(20112, "en"), "The file kept changing on the server while downloading");
}

TEST_F(DownloadRequestTest, ConvertedDocumentsAndWatermarksResolveToPlainDownloads) {
    int polls = 0;
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        const std::string& line = r.requestLine;
        if (line.find("/eod/") != std::string::npos) {
            ++polls;
            return polls < 3 ? c.Reply(200, "{\"state\":100,\"downloadUrl\":\"\"}")
                             : c.Reply(200, "{\"state\":200,\"downloadUrl\":\"http://" +
                                                r.Header("Host") + "/eodfile/?source_path=/a\"}");
        }
        return c.Reply(200, std::string(1234, 'w'));
    });
    const std::string base = server.Url("");
    DeliveryListing listing;
    listing.body = "{\"path\":\"/Docs\",\"is_dir\":true,\"content\":["
                   "{\"path\":\"/Docs/a.docx\",\"bytes\":5,\"eodDownloadUrl\":\"" +
                   base +
                   "/eod/a\"},"
                   "{\"path\":\"/Docs/b.pdf\",\"bytes\":6,\"watermarkDownloadUrl\":\"" +
                   base +
                   "/GetWatermarkFile?url=b\"},"
                   "{\"path\":\"/Docs/w\",\"is_dir\":true,\"watermarkDownloadUrl\":\"" +
                   base +
                   "/GetWatermarkFile?url=w\"},"
                   "{\"path\":\"/Docs/late\",\"bytes\":7,\"watermarkDownloadUrl\":\"" +
                   base + "/GetWatermarkFile?url=late\"}]}";
    EXPECT_EQ(ResolveDeliveryListing(listing), 20103);
    ASSERT_EQ(listing.children.size(), 4u);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(listing.children[0].downloadUrl, base + "/eodfile/?source_path=/a");
    EXPECT_EQ(listing.children[0].size, 1234);
    EXPECT_EQ(listing.children[1].downloadUrl, base + "/GetWatermarkFile?url=b");
    EXPECT_EQ(listing.children[1].size, 1234);
    EXPECT_EQ(listing.children[3].downloadUrl, ""); // after the watermarked folder
    EXPECT_EQ(listing.children[3].size, 7);

    DeliveryListing plain;
    plain.body = "{\"path\":\"/f\",\"bytes\":9,\"download_url\":\"u\"}";
    EXPECT_EQ(ResolveDeliveryListing(plain), 0);
    EXPECT_EQ(plain.item.downloadUrl, "u");
    DeliveryListing refused;
    refused.body = "{\"type\":\"error\",\"code\":\"nameentry_not_exist\"}";
    EXPECT_EQ(ResolveDeliveryListing(refused), 20005);

    EXPECT_EQ(ProbeRemoteSize(base + "/size"), 1234);
    EXPECT_EQ(ProbeRemoteSize("http://127.0.0.1:1/x"), -1);
}

} // namespace
