#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parvex_service {

// A request head as it arrived: the request line's method and raw target, and the header lines
// in order.
struct RawHead {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Parses a head (request line, header lines, blank line; lines end in CR LF). Header values
// lose surrounding blanks and tabs only.
RawHead ParseHead(std::string_view head);

// The head as handed to httplib, which would refuse or misread some forms the client sends:
// every "?" after the first in the target becomes "%3F" (the client appends "?token=" to URLs
// that already hold a query); a stray line feed or blank at the end of a header line goes; the
// Range and Accept-Encoding lines go, since ranges are served from the raw head and replies are
// never compressed.
std::string NormaliseHead(std::string_view head);

// The value of the first header named `name` (compared without case), or empty.
std::string HeaderValue(const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view name);

} // namespace parvex_service
