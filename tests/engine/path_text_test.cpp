#include "engine/path_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PathText, Normalize) {
    struct Case {
        const char* text;
        bool platform;
        const char* normal;
    };
    const Case cases[] = {
        {"a//b/c", false, "a\\b\\c"},
        {"a\\\\b\\c", false, "a\\b\\c"},
        {"\\\\server\\share//x", false, "\\\\server\\share\\x"},
        {"\\\\\\\\server", false, "\\\\\\server"},
        {"a\\\\b//c", true, "a/b/c"},
        {"//a///b/", true, "/a/b/"},
        {"\\\\server\\x", true, "/server/x"},
        {"", true, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathText(c.text, c.platform).Normalize().Text(), c.normal) << c.text;
    }
}

TEST(PathText, AppendDoesNotDoubleSeparators) {
    EXPECT_EQ(PathText("/save/dir").Append("/a/b.txt").Text(), "/save/dir/a/b.txt");
    EXPECT_EQ(PathText("/save/dir/").Append("a").Text(), "/save/dir/a");
    EXPECT_EQ(PathText("/save").Append("x\\y").Text(), "/save/x/y");
    EXPECT_EQ(PathText("C:\\save", false).Append("/a").Text(), "C:\\save\\a");
    EXPECT_EQ(PathText("/save").Append("").Text(), "/save/");
}

} // namespace
