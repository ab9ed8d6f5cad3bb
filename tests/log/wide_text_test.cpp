#include "log/wide_text.h"

#include <gtest/gtest.h>

namespace {

TEST(WideText, Utf8Checks) {
    struct Case {
        std::string text;
        bool valid;
        std::string repaired;
        std::size_t chars;
    };
    const Case cases[] = {
        {"", true, "", 0},
        {"abc", true, "abc", 3},
        {"中文 ok", true, "中文 ok", 5},
        {"\xF0\x9F\x98\x80", true, "\xF0\x9F\x98\x80", 1},
        {std::string("a\0b", 3), true, std::string("a\0b", 3), 3},
        {"\xff", false, "\xEF\xBF\xBD", 1},
        {"a\xE4\xB8", false, "a\xEF\xBF\xBD\xEF\xBF\xBD", 3},               // cut sequence
        {"\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD", 2},                 // overlong "/"
        {"\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 3}, // surrogate
        {"\xF4\x90\x80\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
         4}, // past U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
        EXPECT_EQ(ToValidUtf8(c.text), c.repaired) << c.text;
        EXPECT_EQ(CountUtf8Chars(c.text), c.chars) << c.text;
        EXPECT_EQ(WideToUtf8(Utf8ToWide(c.text)), c.repaired) << c.text;
    }
}

} // namespace
