#pragma once

#include <string>
#include <string_view>

// Wide text (UTF-32 on Linux) to UTF-8. Invalid code points become U+FFFD.
std::string WideToUtf8(std::wstring_view text);
