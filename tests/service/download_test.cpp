#include "service_fixture.h"

#include <rapidjson/document.h>

#include <gtest/gtest.h>

namespace {

using parvex_service::FileContent;
using service_testing::RawGet;
using service_testing::ServiceTest;

class DownloadTest : public ServiceTest {
protected:
    void SetUp() override { StartService(); }
};

TEST_F(DownloadTest, RangesFollowHttpSemantics) {
    struct Case {
        const char* range; // empty: no Range header
        int status;
        std::uint64_t first;
        std::uint64_t length;
        const char* contentRange;
    };
    const Case cases[] = {
        // The client's exclusive end asks for one byte more than it reads.
        {"bytes=0-1048576", 206, 0, 1048577, "bytes 0-1048576/3000000"},
        {"bytes=2097152-3145728", 206, 2097152, 902848, "bytes 2097152-2999999/3000000"},
        {"bytes=2999990-", 206, 2999990, 10, "bytes 2999990-2999999/3000000"},
        {"bytes=-7", 206, 2999993, 7, "bytes 2999993-2999999/3000000"},
        {"", 200, 0, 3000000, ""},
        {"bytes=9-2", 200, 0, 3000000, ""}, // not a valid range: ignored
        {"bytes=3000000-3000001", 416, 0, 0, "bytes */3000000"},
    };
    const std::string target = WithToken("/v2/delivery/download/L1/a.bin");
    for (const Case& c : cases) {
        httplib::Headers headers;
        if (c.range[0] != '\0') {
            headers.emplace("Range", c.range);
        }
        auto result = Client()->Get(target.c_str(), headers);
        ASSERT_TRUE(result) << c.range;
        EXPECT_EQ(result->status, c.status) << c.range;
        EXPECT_EQ(result->get_header_value("Content-Range"), c.contentRange) << c.range;
        if (c.status == 416) {
            continue;
        }
        EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(c.length));
        // Compare without printing megabytes on failure.
        EXPECT_TRUE(result->body == FileContent("L1", "/Reports/a.bin", c.first, c.length))
            << c.range;
    }
}

// Content carries the ETag of its version; a range is given only to an If-Range of that
// version, and a replaced file (NewContent) is another version.
TEST_F(DownloadTest, IfRangeGetsTheRangeOnlyForTheCurrentVersion) {
    const std::uint64_t seed = parvex_service::ContentSeed("L1", "/Reports/a.bin");
    const std::uint64_t newSeed = parvex_service::ReplacedContentSeed(seed);
    const std::string tag = parvex_service::ContentETag(seed);
    const std::string newTag = parvex_service::ContentETag(newSeed);
    struct Case {
        const char* what;
        bool replaced;
        std::string ifRange; // empty: none sent
        int status;
        std::uint64_t servedSeed;
    };
    const Case cases[] = {
        {"no If-Range", false, "", 206, seed},
        {"the current ETag", false, tag, 206, seed},
        {"another ETag", false, "\"0\"", 200, seed},
        {"a date", false, "Wed, 01 May 2024 02:20:30 GMT", 200, seed},
        {"replaced, no If-Range", true, "", 206, newSeed},
        {"replaced, the old ETag", true, tag, 200, newSeed},
        {"replaced, the new ETag", true, newTag, 206, newSeed},
    };
    const std::string target = WithToken("/v2/delivery/download/L1/a.bin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Server().ClearFaults();
        if (c.replaced) {
            Server().AddFault(parvex_service::Fault::Make("/v2/delivery/download/L1/a.bin",
                                                          parvex_service::FaultKind::NewContent));
        }
        httplib::Headers headers{{"Range", "bytes=100-199"}};
        if (!c.ifRange.empty()) {
            headers.emplace("If-Range", c.ifRange);
        }
        auto result = Client()->Get(target.c_str(), headers);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        EXPECT_EQ(result->get_header_value("ETag"), parvex_service::ContentETag(c.servedSeed));
        const std::uint64_t first = c.status == 206 ? 100 : 0;
        std::string expected(c.status == 206 ? 100 : 3000000, '\0');
        parvex_service::FillContent(c.servedSeed, first, expected.data(), expected.size());
        EXPECT_TRUE(result->body == expected);
    }
}

TEST_F(DownloadTest, RawRequestIsRecordedAndItsStrayLineFeedTolerated) {
    // The client ends its Range value with a line feed and sends its own range header and the
    // session cookie; the target holds raw UTF-8 escapes of a name with a blank.
    const std::string target =
        "/v2/delivery/download/L1/sub%20dir/%E4%B8%AD%E6%96%87.txt?token=" + Server().Token("L1");
    const service_testing::RawResponse response =
        RawGet(Server().Port(), target,
               "Cookie: X-VARNOK-SESS-ID=abc;language=en\r\nRange: bytes=2-6\n\r\n"
               "x-varnokws-range: bytes=2-6\r\n");
    EXPECT_EQ(response.status, 206);
    EXPECT_EQ(response.body, FileContent("L1", "/Reports/sub dir/中文.txt", 2, 5));

    const parvex_service::RecordedRequest request = Server().Requests().back();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, target);
    EXPECT_EQ(request.path, "/v2/delivery/download/L1/sub%20dir/%E4%B8%AD%E6%96%87.txt");
    EXPECT_EQ(request.query, "token=" + Server().Token("L1"));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Host", "127.0.0.1"},    {"Cookie", "X-VARNOK-SESS-ID=abc;language=en"},
        {"Range", "bytes=2-6\n"}, {"x-varnokws-range", "bytes=2-6"},
        {"Connection", "close"},
    };
    EXPECT_EQ(request.headers, expected);
    EXPECT_EQ(request.Header("X-VARNOKWS-RANGE"), "bytes=2-6");
}

TEST_F(DownloadTest, DownloadPathsAreDecodedEvenWhenTheFirstEscapeIsEscapedAgain) {
    // The client writes the first "%" of a download URL as "%25".
    const char* const targets[] = {
        "/v2/delivery/download/L1/sub dir/x y.txt",
        "/v2/delivery/download/L1/sub%20dir/x%20y.txt",
        "/v2/delivery/download/L1/sub%2520dir/x%20y.txt",
    };
    for (const char* target : targets) {
        auto result = Client()->Get(WithToken(target).c_str());
        ASSERT_TRUE(result) << target;
        EXPECT_EQ(result->status, 200) << target;
        EXPECT_EQ(result->body, FileContent("L1", "/Reports/sub dir/x y.txt", 0, 1000)) << target;
    }
    // An empty file has no byte to range over: it comes whole.
    auto empty = Client()->Get(WithToken("/v2/delivery/download/L1/empty.txt").c_str(),
                               {{"Range", "bytes=0-0"}});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->get_header_value("Content-Length"), "0");
}

// Names that look like escapes or hold "?" and "#" are found by their encoded forms, each
// segment decoded on its own, and never mistaken for one another.
TEST(OddNameTest, EncodedNamesFindTheirOwnFiles) {
    parvex_service::ServiceServer server(service_testing::ParseOrFail(R"({"links": [
      {"code": "N1", "item": {"name": "Odd", "children": [
        {"name": "y%41%42", "size": 40}, {"name": "y%41B", "size": 40}, {"name": "yAB", "size": 40},
        {"name": "a?b.txt", "size": 41}, {"name": "c#d.txt", "size": 42},
        {"name": "d%2Fe", "children": [{"name": "in.txt", "size": 43}]},
        {"name": "d", "children": [{"name": "e", "size": 44}]}]}}]})"));
    ASSERT_TRUE(server.Start()) << server.LastError();
    struct Case {
        const char* encoded; // below the link root, as the client sends it
        const char* name;    // the file it names; empty: none
        std::uint64_t size;
    };
    const Case cases[] = {
        {"/y%2541%2542", "/y%41%42", 40},
        {"/y%2541B", "/y%41B", 40},
        {"/y%41%42", "/yAB", 40},
        {"/a%3Fb.txt", "/a?b.txt", 41},
        {"/c%23d.txt", "/c#d.txt", 42},
        {"/d%252Fe/in.txt", "/d%2Fe/in.txt", 43},
        {"/d/e", "/d/e", 44},
        // An encoded "/" stays inside its segment: "d%2Fe" names no "d/e".
        {"/d%2Fe", "", 0},
    };
    for (const Case& c : cases) {
        const auto response =
            service_testing::RawGet(server.Port(), std::string("/v2/delivery/download/N1") +
                                                       c.encoded + "?token=" + server.Token("N1"));
        if (c.name[0] == '\0') {
            EXPECT_EQ(response.status, 404) << c.encoded;
            continue;
        }
        EXPECT_EQ(response.status, 200) << c.encoded;
        EXPECT_TRUE(response.body == FileContent("N1", std::string("/Odd") + c.name, 0, c.size))
            << c.encoded;
    }
}

TEST_F(DownloadTest, ConvertedDocumentIsReadyAfterItsPolls) {
    auto client = Client();
    const std::string poll = "/v2/delivery/eod/L1/slides.pptx";
    std::string downloadUrl;
    for (int i = 0; i < 3; ++i) {
        auto result = client->Get(poll.c_str());
        ASSERT_TRUE(result);
        rapidjson::Document body;
        body.Parse(result->body.c_str());
        ASSERT_TRUE(body.IsObject()) << result->body;
        EXPECT_EQ(body["state"].GetInt(), i < 2 ? 100 : 200) << i;
        downloadUrl = body["downloadUrl"].GetString();
        EXPECT_EQ(downloadUrl.empty(), i < 2) << i;
    }
    const std::string base = Server().BaseUrl();
    ASSERT_EQ(downloadUrl, base + "/eodfile/L1/?source_path=/slides.pptx");

    // The client appends "?token=" even though the URL already has a query.
    const std::string target = downloadUrl.substr(base.size()) + "?token=" + Server().Token("L1");
    const std::string key = parvex_service::ConvertedContentPath("/Reports/slides.pptx");
    auto whole = client->Get(target.c_str());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Content-Length"), "7000");
    EXPECT_EQ(whole->body, FileContent("L1", key, 0, 7000));
    auto part = client->Get(target.c_str(), {{"Range", "bytes=100-199"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->body, FileContent("L1", key, 100, 100));
    EXPECT_EQ(Server().Requests().back().target, target);

    Server().ResetConvertedPolls();
    auto again = client->Get(poll.c_str());
    ASSERT_TRUE(again);
    EXPECT_NE(again->body.find("\"state\":100"), std::string::npos);
}

TEST_F(DownloadTest, WatermarkedCopyIsServedWithoutToken) {
    const std::string target = "/GetWatermarkFile?url=/paper.pdf&code=L1";
    const std::string key = parvex_service::WatermarkContentPath("/Reports/paper.pdf");
    auto whole = Client()->Get(target.c_str());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Content-Length"), "4100");
    EXPECT_EQ(whole->body, FileContent("L1", key, 0, 4100));
    auto part = Client()->Get(target.c_str(), {{"Range", "bytes=4000-4200"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->body, FileContent("L1", key, 4000, 100));

    auto plain = Client()->Get("/GetWatermarkFile?url=/a.bin&code=L1");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 404);
}

TEST_F(DownloadTest, ContentDependsOnCodePathAndOffsetOnly) {
    const std::string whole = FileContent("L1", "/Reports/a.bin", 0, 4096);
    for (std::uint64_t offset : {1u, 7u, 8u, 13u, 4000u}) {
        EXPECT_EQ(FileContent("L1", "/Reports/a.bin", offset, 96), whole.substr(offset, 96))
            << offset;
    }
    EXPECT_NE(FileContent("L2", "/Reports/a.bin", 0, 64), whole.substr(0, 64));
    EXPECT_NE(FileContent("L1", "/Reports/b.bin", 0, 64), whole.substr(0, 64));
}

} // namespace
