#include "service_fixture.h"

#include <rapidjson/document.h>

#include <gtest/gtest.h>

namespace {

using service_testing::ServiceTest;

class ListingTest : public ServiceTest {
protected:
    void SetUp() override { StartService(); }

    // A GET through httplib's client; the body parsed as JSON.
    rapidjson::Document GetJson(const std::string& target, int expectedStatus = 200) {
        rapidjson::Document document;
        auto result = Client()->Get(target.c_str());
        if (!result) {
            ADD_FAILURE() << target << ": " << httplib::to_string(result.error());
            return document;
        }
        EXPECT_EQ(result->status, expectedStatus) << target << ": " << result->body;
        document.Parse(result->body.c_str());
        EXPECT_FALSE(document.HasParseError()) << target << ": " << result->body;
        return document;
    }

    // The target of an absolute URL of this service.
    std::string Target(const std::string& url) {
        const std::string base = Server().BaseUrl();
        EXPECT_EQ(url.compare(0, base.size(), base), 0) << url;
        return url.substr(base.size());
    }
};

std::string Text(const rapidjson::Value& object, const char* name) {
    return object.HasMember(name) && object[name].IsString() ? object[name].GetString() : "?";
}

const rapidjson::Value* Child(const rapidjson::Value& listing, const std::string& name) {
    for (const auto& child : listing["content"].GetArray()) {
        if (Text(child, "path").ends_with("/" + name)) {
            return &child;
        }
    }
    ADD_FAILURE() << "no child " << name;
    return nullptr;
}

TEST_F(ListingTest, FolderChildrenComeInPagesOfAHundred) {
    struct Case {
        const char* folder;
        int offset;
        int count;
        const char* first;
    };
    const Case cases[] = {
        {"/many", 0, 100, "f000"}, {"/many", 100, 100, "f100"}, {"/many", 200, 50, "f200"},
        {"/many", 250, 0, ""},     {"/hundred", 0, 100, "f00"}, {"/hundred", 100, 0, ""},
    };
    for (const Case& c : cases) {
        // The parameters may come in any order.
        const std::string target = "/v2/delivery/metadata/L1" + std::string(c.folder) +
                                   "?offset=" + std::to_string(c.offset) +
                                   "&token=" + Server().Token("L1");
        const rapidjson::Document page = GetJson(target);
        ASSERT_TRUE(page.IsObject() && page["content"].IsArray()) << target;
        ASSERT_EQ(static_cast<int>(page["content"].Size()), c.count) << target;
        EXPECT_EQ(Text(page, "path"), std::string("/Reports") + c.folder);
        if (c.count > 0) {
            EXPECT_EQ(Text(page["content"][0], "path"),
                      std::string("/Reports") + c.folder + "/" + c.first);
        }
    }
}

TEST_F(ListingTest, ItemsCarryTheUrlFormsTheClientDerivesNamesFrom) {
    const std::string base = Server().BaseUrl();
    const rapidjson::Document root = GetJson(WithToken("/v2/delivery/metadata/L1"));
    ASSERT_TRUE(root.IsObject());
    EXPECT_EQ(Text(root, "path"), "/Reports");
    EXPECT_TRUE(root["is_dir"].GetBool());
    EXPECT_EQ(Text(root, "download_url"), base + "/v2/delivery/download/L1");
    EXPECT_EQ(Text(root, "metadata_url"), base + "/v2/delivery/metadata/L1");
    EXPECT_EQ(root["content"].Size(), 7u);

    const rapidjson::Value* file = Child(root, "a.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ((*file)["bytes"].GetInt64(), 3000000);
    EXPECT_EQ(Text(*file, "size"), "2.9 MB");
    EXPECT_FALSE((*file)["is_dir"].GetBool());
    EXPECT_EQ(Text(*file, "delivery_code"), "L1");
    EXPECT_EQ(Text(*file, "eodDownloadUrl"), "");
    EXPECT_EQ(Text(*file, "modified"), "2024-05-01T10:20:30+08:00");
    EXPECT_FALSE(Text(*file, "neid").empty());
    EXPECT_EQ(Text(*Child(root, "slides.pptx"), "eodDownloadUrl"),
              base + "/v2/delivery/eod/L1/slides.pptx");
    EXPECT_EQ(Text(*Child(root, "paper.pdf"), "watermarkDownloadUrl"),
              base + "/GetWatermarkFile?url=/paper.pdf&code=L1");

    // The download URL keeps the path as it is; the metadata URL percent-encodes it.
    const rapidjson::Value* folder = Child(root, "sub dir");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(Text(*folder, "download_url"), base + "/v2/delivery/download/L1/sub dir");
    EXPECT_EQ(Text(*folder, "metadata_url"), base + "/v2/delivery/metadata/L1/sub%20dir");

    // A client follows a child's metadata URL with the token query appended.
    const rapidjson::Document sub = GetJson(WithToken(Target(Text(*folder, "metadata_url"))));
    ASSERT_TRUE(sub.IsObject());
    EXPECT_EQ(Text(sub, "path"), "/Reports/sub dir");
    const rapidjson::Value* chinese = Child(sub, "中文.txt");
    ASSERT_NE(chinese, nullptr);
    EXPECT_EQ(Text(*chinese, "metadata_url"),
              base + "/v2/delivery/metadata/L1/sub%20dir/%e4%b8%ad%e6%96%87.txt");
    // Upper-case escapes decode alike.
    const rapidjson::Document leaf =
        GetJson(WithToken("/v2/delivery/metadata/L1/sub%20dir/%E4%B8%AD%E6%96%87.txt"));
    EXPECT_EQ(Text(leaf, "path"), "/Reports/sub dir/中文.txt");
    EXPECT_FALSE(leaf.HasMember("content"));

    // A link that shares a single file.
    const rapidjson::Document single = GetJson(WithToken("/v2/delivery/metadata/F1", "F1"));
    EXPECT_EQ(Text(single, "path"), "/single.iso");
    EXPECT_EQ(Text(single, "download_url"), base + "/v2/delivery/download/F1");
    EXPECT_FALSE(single.HasMember("content"));
}

TEST_F(ListingTest, RefusalsAreErrorObjects) {
    struct Case {
        std::string target;
        int status;
        const char* code;
    };
    const std::string token = Server().Token("L1");
    const Case cases[] = {
        {"/v2/delivery/metadata/L1?token=wrong", 401, "token is not exist"},
        {"/v2/delivery/metadata/L1", 401, "token is not exist"},
        {"/v2/delivery/metadata/L1?token=" + Server().Token("F1"), 401, "token is not exist"},
        {"/v2/delivery/metadata/NOPE?token=" + token, 404, "nameentry_not_exist"},
        {"/v2/delivery/metadata/L1/missing?token=" + token, 404, "nameentry_not_exist"},
        {"/v2/delivery/download/L1/sub%20dir?token=" + token, 400, "not a file"},
        {"/v2/delivery/get_remain_download_count/NOPE", 404, "nameentry_not_exist"},
        {"/v2/unknown/call", 404, "nameentry_not_exist"},
    };
    for (const Case& c : cases) {
        const rapidjson::Document error = GetJson(c.target, c.status);
        ASSERT_TRUE(error.IsObject()) << c.target;
        EXPECT_EQ(Text(error, "type"), "error") << c.target;
        EXPECT_EQ(error["state"].GetInt(), c.status) << c.target;
        EXPECT_EQ(Text(error, "code"), c.code) << c.target;
        EXPECT_FALSE(Text(error, "message").empty()) << c.target;
        EXPECT_FALSE(Text(error, "request_id").empty()) << c.target;
    }
}

TEST_F(ListingTest, LinkAndAccountCallsAnswerTheirMembers) {
    EXPECT_EQ(GetJson("/v2/delivery/get_remain_download_count/L1")["remain_download"].GetInt(), 3);
    Server().SetRemainingCount("L1", 0);
    EXPECT_EQ(GetJson("/v2/delivery/get_remain_download_count/L1")["remain_download"].GetInt(), 0);
    EXPECT_FALSE(GetJson("/v2/delivery/is_login_verify/L1")["isLoginVerify"].GetBool());
    EXPECT_TRUE(GetJson("/v2/delivery/is_login_verify/F1")["isLoginVerify"].GetBool());

    const rapidjson::Document user = GetJson("/v2/user/info/get");
    EXPECT_EQ(Text(user, "uid"), "u-7");
    EXPECT_EQ(Text(user, "account_id"), "a-9");
    const rapidjson::Document support = GetJson("/v2/support");
    ASSERT_EQ(support["support"].Size(), 2u);
    EXPECT_EQ(std::string(support["support"][1].GetString()), "files/patch");

    // Short addresses: a redirect to the link page, or the 200 error form.
    auto client = Client();
    auto redirect = client->Get("/s/ok");
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->status, 302);
    EXPECT_EQ(redirect->get_header_value("Location"), Server().BaseUrl() + "/link/view/L1");
    const rapidjson::Document gone = GetJson("/s/gone");
    EXPECT_EQ(Text(gone, "code"), "20005");
    EXPECT_EQ(Text(gone, "msg"), "removed");
    auto page = client->Get("/link/view/L1");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("Reports"), std::string::npos);

    auto pixel = client->Get("/st.gif?state=dl&path=/a&size=1000&speed=500&aid=&uid=");
    ASSERT_TRUE(pixel);
    EXPECT_EQ(pixel->status, 200);
    EXPECT_EQ(pixel->get_header_value("Content-Type"), "image/gif");
    EXPECT_EQ(Server().Requests().back().query, "state=dl&path=/a&size=1000&speed=500&aid=&uid=");
}

TEST_F(ListingTest, StorageListsPagesRevisionsAndRoutesDownloads) {
    const rapidjson::Document root = GetJson(
        "/v2/metadata/databox/?from=&include_deleted=false&limit=10&list=true&neid=&offset=0"
        "&path_type=ent&prefix_neid=");
    EXPECT_EQ(Text(root, "path"), "/");
    ASSERT_EQ(root["content"].Size(), 1u);
    EXPECT_EQ(Text(root["content"][0], "path"), "/docs");

    const rapidjson::Document docs = GetJson("/v2/metadata/databox/docs?limit=10&list=true");
    ASSERT_EQ(docs["content"].Size(), 1u);
    const rapidjson::Value& plan = docs["content"][0];
    EXPECT_EQ(Text(plan, "path"), "/docs/plan.txt");
    EXPECT_EQ(Text(plan, "rev"), "5");
    EXPECT_EQ(plan["bytes"].GetInt64(), 700);
    EXPECT_FALSE(GetJson("/v2/metadata/databox/docs?list=false").HasMember("content"));

    const rapidjson::Document revisions =
        GetJson("/v2/revisions/databox/docs/plan.txt?from=&neid=&path=%2fdocs%2fplan.txt"
                "&path_type=ent&rev_limit=1000");
    ASSERT_TRUE(revisions.IsArray());
    ASSERT_EQ(revisions.Size(), 2u);
    EXPECT_EQ(Text(revisions[1], "rev"), "4");
    EXPECT_EQ(revisions[1]["bytes"].GetInt64(), 650);
    EXPECT_EQ(Text(revisions[1], "user"), "ann");

    struct Case {
        std::string query;
        std::string contentPath;
        std::size_t size;
    };
    const Case cases[] = {
        {"path_type=ent", "/docs/plan.txt", 700},
        {"path_type=ent&rev=5&op_type=sync", "/docs/plan.txt", 700},
        {"path_type=ent&neid=1&rev=4", parvex_service::RevisionContentPath("/docs/plan.txt", "4"),
         650},
    };
    for (const Case& c : cases) {
        auto result = Client()->Get(("/v2/dl_router/databox/docs/plan.txt?" + c.query).c_str());
        ASSERT_TRUE(result) << c.query;
        EXPECT_EQ(result->status, 200) << c.query;
        EXPECT_EQ(result->body, parvex_service::FileContent("", c.contentPath, 0, c.size))
            << c.query;
    }
    GetJson("/v2/dl_router/databox/docs/plan.txt?path_type=ent&rev=3", 404);
}

} // namespace
