#pragma once

#include <rapidjson/document.h>

#include <string_view>

// Text from outside (service replies, stored records) may be nested deeper than any real
// record; a recursive parse of it would overflow the stack.
inline constexpr int kJsonNestingLimit = 64;

// Parses the whole text into `document` without recursion. False, with `document` left null,
// for text that is not JSON or nests arrays and objects deeper than kJsonNestingLimit.
bool ParseJsonText(std::string_view text, rapidjson::Document& document);
// The same, and the root must be an object.
bool ParseJsonObject(std::string_view text, rapidjson::Document& document);
