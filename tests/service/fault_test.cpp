#include "service_fixture.h"

#include "support/temp_dir.h"

#include <rapidjson/document.h>

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using parvex_service::Fault;
using parvex_service::FaultKind;
using parvex_service::FileContent;
using service_testing::RawGet;
using service_testing::RawResponse;
using service_testing::ServiceTest;

class FaultTest : public ServiceTest {
protected:
    void SetUp() override { StartService(); }

    RawResponse GetRange(const std::string& range) {
        return RawGet(Server().Port(), WithToken("/v2/delivery/download/L1/a.bin"),
                      "Range: " + range + "\r\n");
    }
};

const std::string kDownload = "/v2/delivery/download/";

TEST_F(FaultTest, TransmissionFaultsOnARangedDownload) {
    struct Case {
        const char* name;
        Fault fault;
        int status;
        const char* contentLength;
        const char* contentRange;
        std::size_t bodyBytes; // bytes that arrive before the server closes
    };
    const Case cases[] = {
        {"cut", Fault::CutAfter(kDownload, 1000), 206, "100000", "bytes 0-99999/3000000", 1000},
        {"cut before the body", Fault::CutAfter(kDownload, 0), 206, "100000",
         "bytes 0-99999/3000000", 0},
        {"lying length", Fault::LyingLength(kDownload, 500), 206, "100500", "bytes 0-99999/3000000",
         100000},
        {"empty 206", Fault::Make(kDownload, FaultKind::Empty206), 206, "0",
         "bytes 0-99999/3000000", 0},
        {"range ignored", Fault::Make(kDownload, FaultKind::IgnoreRange), 200, "3000000", "",
         3000000},
        {"range shifted", Fault::WrongRange(kDownload, 10, 0), 206, "100000",
         "bytes 10-100009/3000000", 100000},
        {"other total", Fault::WrongRange(kDownload, 0, 1), 206, "100000", "bytes 0-99999/3000001",
         100000},
        {"slow body", Fault::SlowBody(kDownload, 2, 25000), 206, "100000", "bytes 0-99999/3000000",
         100000},
        {"slow headers", Fault::Delay(kDownload, 20), 206, "100000", "bytes 0-99999/3000000",
         100000},
    };
    for (const Case& c : cases) {
        Server().ClearFaults();
        Server().AddFault(c.fault);
        const RawResponse response = GetRange("bytes=0-99999");
        EXPECT_EQ(response.status, c.status) << c.name;
        EXPECT_EQ(response.Header("content-length"), c.contentLength) << c.name;
        EXPECT_EQ(response.Header("content-range"), c.contentRange) << c.name;
        ASSERT_EQ(response.body.size(), c.bodyBytes) << c.name;
        // What arrives is always the right bytes of the range asked for.
        EXPECT_TRUE(response.body == FileContent("L1", "/Reports/a.bin", 0, c.bodyBytes)) << c.name;
    }
}

TEST_F(FaultTest, ReplyFaultsReplaceOrSpoilTheAnswer) {
    const std::string metadata = "/v2/delivery/metadata/";
    const std::string target = WithToken("/v2/delivery/metadata/L1/sub%20dir");
    const std::string normal = RawGet(Server().Port(), target).body;
    ASSERT_EQ(normal.front(), '{');
    struct Case {
        const char* name;
        Fault fault;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"status", Fault::HttpStatus(metadata, 500, "boom"), 500, "boom"},
        {"error object", Fault::Error(metadata, "forbidden here", "no access", 403), 403,
         R"({"type":"error","state":403,"code":"forbidden here","message":"no access",)"},
        {"not JSON", Fault::Make(metadata, FaultKind::NotJson), 200, "<html>"},
        {"empty body", Fault::Make(metadata, FaultKind::EmptyBody), 200, ""},
        {"truncated", Fault::Make(metadata, FaultKind::TruncatedJson), 200,
         normal.substr(0, normal.size() / 2)},
    };
    for (const Case& c : cases) {
        Server().ClearFaults();
        Server().AddFault(c.fault);
        const RawResponse response = RawGet(Server().Port(), target);
        EXPECT_EQ(response.status, c.status) << c.name;
        EXPECT_EQ(response.body.substr(0, c.body.size()), c.body) << c.name;
        if (c.body.empty() || c.name == std::string("truncated")) {
            EXPECT_EQ(response.body, c.body) << c.name;
        }
    }
}

TEST_F(FaultTest, RewriteChangesTextRepliesForItsCountButNeverFileContent) {
    const std::string target = WithToken("/v2/delivery/metadata/L1/sub%20dir");
    const std::string normal = RawGet(Server().Port(), target).body;
    Server().AddFault(Fault::Rewrite("/v2/delivery/metadata/", "/x y.txt", "/../x y.txt", 1));

    rapidjson::Document listing;
    listing.Parse(RawGet(Server().Port(), target).body.c_str());
    ASSERT_TRUE(listing.IsObject() && listing.HasMember("content"));
    const rapidjson::Value& child = listing["content"][0];
    EXPECT_EQ(std::string(child["path"].GetString()), "/Reports/sub dir/../x y.txt");
    EXPECT_EQ(std::string(child["download_url"].GetString()),
              Server().BaseUrl() + "/v2/delivery/download/L1/sub dir/../x y.txt");
    EXPECT_EQ(RawGet(Server().Port(), target).body, normal) << "the count is used up";

    // Bytes of a file that happen to match are file content, not a reply text.
    const std::string head = FileContent("L1", "/Reports/a.bin", 0, 16);
    Server().AddFault(Fault::Rewrite(kDownload, head, std::string(16, 'x')));
    EXPECT_TRUE(GetRange("bytes=0-99999").body == FileContent("L1", "/Reports/a.bin", 0, 100000));
}

TEST_F(FaultTest, FaultsMatchByPrefixAndMethodForTheirCount) {
    Server().AddFault(Fault::HttpStatus("/v2/delivery/auth/", 500, "", 1));
    Fault postOnly = Fault::HttpStatus("/v2/delivery/get_remain_download_count/", 503, "", 2);
    postOnly.method = "POST";
    Server().AddFault(postOnly);
    // Added first, so it wins over the next one for its two requests.
    Server().AddFault(Fault::HttpStatus("/v2/delivery/is_login_verify/", 502, "", 2));
    Server().AddFault(Fault::HttpStatus("/v2/delivery/is_login_verify/", 504));

    auto client = Client();
    std::vector<int> statuses;
    for (const char* target :
         {"/v2/delivery/is_login_verify/L1", "/v2/delivery/is_login_verify/L1",
          "/v2/delivery/is_login_verify/L1", "/v2/delivery/get_remain_download_count/L1"}) {
        auto result = client->Get(target);
        ASSERT_TRUE(result) << target;
        statuses.push_back(result->status);
    }
    for (int i = 0; i < 2; ++i) {
        auto result = client->Post("/v2/delivery/auth/F1", "password=", "text/plain");
        ASSERT_TRUE(result);
        statuses.push_back(result->status);
    }
    EXPECT_EQ(statuses, (std::vector<int>{502, 502, 504, 200, 500, 200}));
    // Faulted requests are recorded like any other.
    EXPECT_EQ(Server().Requests().size(), 6u);
}

TEST_F(FaultTest, RedirectSendsItsLocationWhateverTheScheme) {
    const char* const locations[] = {"gopher://127.0.0.1:9/_SET%20x%201%0D%0A",
                                     "file:///etc/passwd", "http://127.0.0.1:9/elsewhere"};
    for (const char* location : locations) {
        Server().ClearFaults();
        Server().AddFault(Fault::Redirect(kDownload, location));
        const RawResponse response = GetRange("bytes=0-9");
        EXPECT_EQ(response.status, 302) << location;
        EXPECT_EQ(response.Header("location"), location);
        EXPECT_EQ(response.body, "") << location;
    }
    Server().ClearFaults();
    Server().AddFault(Fault::Redirect(kDownload, "https://127.0.0.1:9/x", 307));
    EXPECT_EQ(GetRange("bytes=0-9").status, 307);
}

// The paths of the children of "many" (250 files, pages of 100) on the page a metadata
// request at `offset` gets.
class PageFaultTest : public FaultTest {
protected:
    std::vector<std::string> Page(std::uint64_t offset) {
        const std::string target =
            WithToken("/v2/delivery/metadata/L1/many?offset=" + std::to_string(offset));
        rapidjson::Document page;
        page.Parse(RawGet(Server().Port(), target).body.c_str());
        std::vector<std::string> names;
        if (!page.IsObject() || !page.HasMember("content") || !page["content"].IsArray()) {
            ADD_FAILURE() << "no listing at offset " << offset;
            return names;
        }
        for (const auto& child : page["content"].GetArray()) {
            names.emplace_back(child["path"].GetString());
        }
        return names;
    }
};

TEST_F(PageFaultTest, IgnoredOffsetAnswersTheFirstPageEveryTime) {
    const std::vector<std::string> first = Page(0);
    ASSERT_EQ(first.size(), 100u);
    Server().AddFault(Fault::Make("/v2/delivery/metadata/L1/many", FaultKind::IgnoreOffset));
    EXPECT_EQ(Page(100), first);
    EXPECT_EQ(Page(200), first);
    EXPECT_EQ(Page(250), first) << "even past the end";
}

TEST_F(PageFaultTest, RepeatedPageIsThePageBeforeItOnlyAtItsOffset) {
    const std::vector<std::string> first = Page(0);
    const std::vector<std::string> third = Page(200);
    ASSERT_EQ(third.size(), 50u);
    Server().AddFault(Fault::RepeatPage("/v2/delivery/metadata/L1/many", 100, 1));
    EXPECT_EQ(Page(0), first) << "other offsets neither match nor use up the count";
    EXPECT_EQ(Page(200), third);
    EXPECT_EQ(Page(100), first);
    EXPECT_EQ(Page(100).front(), "/Reports/many/f100") << "the count is used up";
}

TEST_F(FaultTest, HeaderLinesCanEndInBareLineFeedsOrCarriageReturns) {
    const std::string request = "GET " + WithToken("/v2/delivery/download/L1/a.bin") +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-99\r\n"
                                "Connection: close\r\n\r\n";
    const std::string content = FileContent("L1", "/Reports/a.bin", 0, 100);
    struct Case {
        FaultKind kind;
        const char* lineEnd;
        char other;
    };
    for (const Case& c :
         {Case{FaultKind::BareLfHeaders, "\n", '\r'}, Case{FaultKind::BareCrHeaders, "\r", '\n'}}) {
        Server().ClearFaults();
        Server().AddFault(Fault::Make(kDownload, c.kind, 1));
        const std::string reply = service_testing::RawExchange(Server().Port(), request);
        const std::string blank = std::string(c.lineEnd) + c.lineEnd;
        const std::size_t headEnd = reply.find(blank);
        ASSERT_NE(headEnd, std::string::npos) << reply.substr(0, 200);
        const std::string head = reply.substr(0, headEnd + 2);
        EXPECT_EQ(head.rfind(std::string("HTTP/1.1 206 Partial Content") + c.lineEnd, 0), 0u)
            << head;
        EXPECT_NE(
            head.find(std::string(c.lineEnd) + "Content-Range: bytes 0-99/3000000" + c.lineEnd),
            std::string::npos)
            << head;
        EXPECT_EQ(head.find(c.other), std::string::npos) << head;
        EXPECT_TRUE(reply.substr(headEnd + 2) == content) << "the body is untouched";
    }
    // The count is used up: the next reply has its CR LF again.
    EXPECT_EQ(GetRange("bytes=0-99").status, 206);
}

TEST_F(FaultTest, HangingRequestIsReleasedByClearingTheFaults) {
    Server().AddFault(Fault::Make("/v2/delivery/get_remain", FaultKind::Hang));
    auto answer = std::async(std::launch::async, [this] {
        auto result = Client()->Get("/v2/delivery/get_remain_download_count/L1");
        return result ? result->status : -1;
    });
    ASSERT_TRUE(testing_support::WaitUntil([this] { return Server().Requests().size() == 1; }));
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    Server().ClearFaults();
    EXPECT_EQ(answer.get(), 200);
}

TEST_F(FaultTest, StopReturnsPromptlyWhileRequestsHangAndConnectionsIdle) {
    Server().AddFault(Fault::Make("/v2/delivery/metadata/", FaultKind::Hang));
    auto hung = std::async(std::launch::async, [this] {
        auto result = Client()->Get(WithToken("/v2/delivery/metadata/L1").c_str());
        return result ? result->status : -1;
    });
    // A kept-alive connection that sent one request and now says nothing.
    httplib::Client idle(Server().BaseUrl());
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/v2/support"));
    ASSERT_TRUE(testing_support::WaitUntil([this] { return Server().Requests().size() == 2; }));

    auto stopped = std::async(std::launch::async, [this] { Server().Stop(); });
    // Far below the five seconds an idle connection would otherwise be kept.
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return stopped.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
        std::chrono::seconds(3)));
    stopped.get();
    EXPECT_NE(hung.get(), 200);
}

} // namespace
