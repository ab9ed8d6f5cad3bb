#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text conversions. Text is UTF-8 std::string everywhere; wide text appears only at the edges.

// Wide text (UTF-32 on Linux) to UTF-8. Invalid code points become U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// UTF-8 to wide text. Every byte that does not start a well-formed sequence becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The text with every ill-formed byte replaced by U+FFFD; well-formed text is returned unchanged.
std::string ToValidUtf8(std::string_view text);

// Number of characters (code points, an ill-formed byte counting as one).
std::size_t CountUtf8Chars(std::string_view text);
