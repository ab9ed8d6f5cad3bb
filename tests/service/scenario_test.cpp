#include "scenario.h"
#include "service_fixture.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>

using parvex_service::FindItem;
using parvex_service::Item;
using parvex_service::Scenario;

namespace {

// Every item of the tree, depth first.
void Walk(const Item& item, const std::function<void(const Item&)>& visit) {
    visit(item);
    Item scratch;
    for (std::uint64_t i = 0; i < parvex_service::ChildCount(item); ++i) {
        Walk(parvex_service::ChildAt(item, i, scratch), visit);
    }
}

} // namespace

TEST(ScenarioTest, DemoScenarioHoldsWhatTheDemoShows) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(parvex_service::LoadScenarioFile(PARVEX_SERVICE_DEMO_SCENARIO, scenario, error))
        << error;
    // The download link: protected, reached by the short address too, nothing this tool
    // refuses, one file large enough to show progress.
    ASSERT_EQ(scenario.links.size(), 2u);
    EXPECT_FALSE(scenario.links[0].password.empty());
    ASSERT_EQ(scenario.shortAddresses.size(), 1u);
    EXPECT_EQ(scenario.shortAddresses[0].code, scenario.links[0].code);
    const auto count = [](const Item& root) {
        struct Counts {
            int converted = 0;
            int watermarked = 0;
            int folders = 0;
            std::uint64_t largest = 0;
        } counts;
        Walk(root, [&](const Item& item) {
            counts.converted += item.converted ? 1 : 0;
            counts.watermarked += item.watermark ? 1 : 0;
            counts.folders += item.isDir ? 1 : 0;
            counts.largest = std::max(counts.largest, item.size);
        });
        return counts;
    };
    const auto demo = count(scenario.links[0].item);
    EXPECT_EQ(demo.converted + demo.watermarked, 0);
    EXPECT_GE(demo.folders, 3);
    EXPECT_GE(demo.largest, 16u * 1024 * 1024);
    // The link whose items the selection refuses.
    const auto outer = count(scenario.links[1].item);
    EXPECT_EQ(outer.converted, 1);
    EXPECT_EQ(outer.watermarked, 1);
}

TEST(ScenarioTest, ReadsLinksItemsAndGeneratedFiles) {
    const Scenario scenario = service_testing::ParseOrFail(service_testing::kScenario);
    ASSERT_EQ(scenario.links.size(), 2u);
    const parvex_service::Link& link = scenario.links[0];
    EXPECT_EQ(link.password, "pa ss+w/ö");
    EXPECT_EQ(link.remaining, 3);
    EXPECT_TRUE(scenario.links[1].loginOnly);
    EXPECT_TRUE(scenario.storage.present);
    EXPECT_EQ(scenario.options.pageSize, 100);

    Item scratch;
    EXPECT_EQ(FindItem(link.item, "", scratch), &link.item);
    EXPECT_EQ(FindItem(link.item, "/", scratch), &link.item);
    const Item* file = FindItem(link.item, "/sub dir/x y.txt", scratch);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size, 1000u);
    EXPECT_EQ(FindItem(link.item, "//sub dir//x y.txt/", scratch), file);
    EXPECT_EQ(FindItem(link.item, "/a.bin/x", scratch), nullptr);

    // 250 generated files are named with three digits, f000 to f249.
    const Item* many = FindItem(link.item, "/many", scratch);
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(parvex_service::ChildCount(*many), 250u);
    EXPECT_EQ(parvex_service::ChildAt(*many, 249, scratch).name, "f249");
    const Item* last = FindItem(link.item, "/many/f249", scratch);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->size, 10u);
    for (const char* missing : {"/many/f250", "/many/f00", "/many/g001", "/many/f0001"}) {
        EXPECT_EQ(FindItem(link.item, missing, scratch), nullptr) << missing;
    }
}

TEST(ScenarioTest, SizesBeyondFourGigabytesAndCommentsAreAccepted) {
    const Scenario scenario = service_testing::ParseOrFail(R"(
        // a comment
        {"links": [{"code": "big", "item": {"name": "disk.img", "size": 10995116277760},},]})");
    ASSERT_EQ(scenario.links.size(), 1u);
    EXPECT_EQ(scenario.links[0].item.size, 10995116277760u);
}

TEST(ScenarioTest, BadScenariosNameTheMemberAtFault) {
    struct Case {
        const char* json;
        const char* message;
    };
    const Case cases[] = {
        {"{\"links\": [}", "not valid JSON at line 1, column 12"},
        {"[]", "scenario: must be an object"},
        {R"({"links": [{"item": {"name": "a", "size": 1}}]})",
         "links[0]: member \"code\" is missing"},
        {R"({"links": [{"code": "c"}]})", "links[0]: member \"item\" is missing"},
        {R"({"links": [{"code": "c", "item": {"name": "a"}}]})",
         "links[0].item: member \"size\" is missing"},
        {R"({"links": [{"code": "c", "item": {"name": "a", "size": -1}}]})",
         "links[0].item.size: must be a non-negative integer"},
        {R"({"links": [{"code": "c", "item": {"name": "a", "sise": 1}}]})",
         "links[0].item: unknown member \"sise\""},
        {R"({"links": [{"code": "c", "item": {"name": "a/b", "size": 1}}]})", "holds /"},
        {R"({"links": [{"code": "c#1", "item": {"name": "a?#%", "size": 1}}]})",
         "links[0].code: code \"c#1\" holds ? or #"},
        {R"({"links": [{"code": "c?1", "item": {"name": "a", "size": 1}}]})", "holds ? or #"},
        {R"({"links": [{"code": "c", "item": {"name": "a", "children": [
            {"name": "x", "size": 1}, {"name": "x", "size": 2}]}}]})",
         "links[0].item.children[1]: a second child named \"x\""},
        {R"({"links": [{"code": "c", "item": {"name": "a", "size": 1}},
                       {"code": "c", "item": {"name": "b", "size": 1}}]})",
         "links[1].code: \"c\" is used twice"},
        {R"({"options": {"public_key": "der"}})",
         "options.public_key: must be \"pem\" or \"base64\""},
        {R"({"options": {"page_size": 0}})", "options.page_size: must be an integer of at least 1"},
        {R"({"short_addresses": [{"path": "/s/x"}]})",
         "short_addresses[0]: member \"code\" is missing"},
    };
    for (const Case& c : cases) {
        Scenario scenario;
        std::string error;
        EXPECT_FALSE(parvex_service::ParseScenario(c.json, scenario, error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error;
    }
}

TEST(ScenarioTest, MissingFileIsReportedWithItsPath) {
    testing_support::TempDir dir;
    Scenario scenario;
    std::string error;
    EXPECT_FALSE(parvex_service::LoadScenarioFile(dir.File("none.json"), scenario, error));
    EXPECT_NE(error.find(dir.File("none.json")), std::string::npos) << error;

    testing_support::WriteFile(dir.File("bad.json"), "{\"links\": 1}");
    EXPECT_FALSE(parvex_service::LoadScenarioFile(dir.File("bad.json"), scenario, error));
    EXPECT_EQ(error, dir.File("bad.json") + ": links: must be an array");
}
