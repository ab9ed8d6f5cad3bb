// Bounds on what the service sends: JSON nesting, listed sizes, folder walks, free space.
#include "engine/file_admission.h"
#include "engine/folder_walk_guard.h"
#include "engine/json_fields.h"
#include "engine/json_text.h"
#include "engine/part_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Nested(int depth, char open, char close) {
    return std::string(static_cast<std::size_t>(depth), open) +
           std::string(static_cast<std::size_t>(depth), close);
}

} // namespace

TEST(JsonText, NestingBeyondTheLimitIsAFailedParseNotACrash) {
    struct Case {
        std::string text;
        bool parses;
    } cases[] = {
        {Nested(kJsonNestingLimit, '[', ']'), true},
        {Nested(kJsonNestingLimit + 1, '[', ']'), false},
        {std::string(5 << 20, '['), false},
        {"{\"a\":" + Nested(kJsonNestingLimit - 1, '[', ']') + "}", true},
        {"{\"a\":" + Nested(kJsonNestingLimit, '[', ']') + "}", false},
        // Brackets inside strings, escaped quotes included, are not nesting.
        {"[\"" + std::string(200, '[') + "\\\"" + std::string(200, '{') + "\"]", true},
        {"{\"a\":1", false},
        {"", false},
    };
    for (const Case& c : cases) {
        rapidjson::Document document;
        EXPECT_EQ(ParseJsonText(c.text, document), c.parses) << c.text.substr(0, 80);
        if (!c.parses) {
            EXPECT_TRUE(document.IsNull());
        }
    }
    rapidjson::Document document;
    EXPECT_FALSE(ParseJsonObject("[1]", document));
    EXPECT_TRUE(ParseJsonObject("{\"k\":[1,{\"n\":2}]}", document));
}

TEST(ListedSize, OnlyIntegersFromZeroToTheLargestAreTaken) {
    struct Case {
        const char* json;
        bool taken;
        std::uint64_t size;
    } cases[] = {
        {R"({"bytes":0})", true, 0},
        {R"({})", true, 0},
        {R"({"bytes":"5368709120"})", true, 5368709120u},
        {R"({"bytes":1125899906842624})", true, kMaxItemSize},
        {R"({"bytes":1125899906842625})", false, 0},
        {R"({"bytes":4503599627370496})", false, 0},      // 2^52
        {R"({"bytes":"1152921504606846976"})", false, 0}, // 2^60
        {R"({"bytes":-1})", false, 0},
        {R"({"bytes":"-1"})", false, 0},
        {R"({"bytes":"12x"})", false, 0},
        {R"({"bytes":12.5})", false, 0},
        {R"({"bytes":true})", false, 0},
        {R"({"bytes":""})", false, 0},
    };
    for (const Case& c : cases) {
        rapidjson::Document document;
        ASSERT_TRUE(ParseJsonObject(c.json, document)) << c.json;
        std::uint64_t size = 99;
        EXPECT_EQ(json_fields::ReadBoundedSize(document, "bytes", kMaxItemSize, size), c.taken)
            << c.json;
        EXPECT_EQ(size, c.taken ? c.size : 99u) << c.json;
    }
}

TEST(FileAdmission, RefusedSizesAndFilesLargerThanTheFreeSpace) {
    struct Case {
        std::uint64_t size;
        bool started;
        std::uint64_t freeBytes;
        int code;
    } cases[] = {
        {0, false, 0, 0},
        {10, false, 10, 0},
        {11, false, 10, 112},
        {11, true, 10, 0}, // its temporary file holds the space already
        {kMaxItemSize, false, kMaxItemSize, 0},
        {kRefusedItemSize, false, ~std::uint64_t{0}, 20002},
        {kRefusedItemSize, true, ~std::uint64_t{0}, 20002},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileAdmissionCode(c.size, c.started, c.freeBytes), c.code) << c.size;
    }
    // A path that does not exist yet is asked of its nearest existing folder.
    EXPECT_GT(FreeBytesAt("/tmp/does/not/exist/yet/file.bin"), 0u);
    EXPECT_EQ(FreeBytesAt("/tmp/does/not/exist/yet/file.bin"), FreeBytesAt("/tmp"));
}

TEST(FolderWalkGuard, FoldersWalkedAgainTooDeepOrTooManyItemsEndTheWalk) {
    CFolderWalkGuard guard;
    EXPECT_TRUE(guard.EnterFolder("http://s/m/C", 0));
    EXPECT_TRUE(guard.EnterFolder("http://s/m/C/a", 1));
    EXPECT_FALSE(guard.EnterFolder("http://s/m/C", 2)); // a child that leads back up
    EXPECT_TRUE(guard.EnterFolder("http://s/m/C/deep", CFolderWalkGuard::kMaxDepth));
    EXPECT_FALSE(guard.EnterFolder("http://s/m/C/deeper", CFolderWalkGuard::kMaxDepth + 1));

    EXPECT_TRUE(guard.AddItems(CFolderWalkGuard::kMaxItems - 1));
    EXPECT_TRUE(guard.AddItems(1));
    EXPECT_FALSE(guard.AddItems(1));
}

TEST(FolderPages, APageThatRepeatsThePreviousOneIsRefused) {
    CFolderPages pages;
    EXPECT_TRUE(pages.Accept("/a/1"));
    EXPECT_TRUE(pages.Accept("/a/101"));
    EXPECT_FALSE(pages.Accept("/a/101")); // served again, or the offset was ignored
    CFolderPages other;
    EXPECT_TRUE(other.Accept("/a/1"));
    EXPECT_FALSE(other.Accept("/a/1"));
    CFolderPages empty;
    EXPECT_TRUE(empty.Accept(""));
    EXPECT_TRUE(empty.Accept("")); // an empty page ends the folder by itself
}
