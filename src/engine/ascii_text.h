#pragma once

#include <string>
#include <string_view>

// Letter-case rules that touch only A to Z, so multi-byte UTF-8 text passes unchanged.
std::string AsciiLower(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view other);
// Leading and trailing blanks (space, tab) removed.
std::string_view TrimBlanks(std::string_view text);
