#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Header names and values as the HTTP client keeps them: ordered maps, names compared exactly.
using HeaderMap = std::map<std::string, std::string>;

// The request header lines of a header map: per entry "name:value" in map order. A value may
// carry further lines: every CR LF (or lone CR or LF) inside an entry starts a new line, a
// trailing line break is dropped, and empty lines are skipped, so nothing can end the header
// block early.
std::vector<std::string> RequestHeaderLines(const HeaderMap& headers);

// The "Cookie: " line of a cookie map: name=value pairs joined by ";"; empty without cookies.
std::string CookieLine(const HeaderMap& cookies);

// Reads a raw response header block (lines end in CR LF, LF or CR): every line with a ":" is split
// at the first one, name and value trimmed, the name lower-cased; a later line replaces an earlier
// one. Each "set-cookie" value is split at ";" and every "name=value" piece goes to cookies.
void ParseResponseHeaders(std::string_view raw, HeaderMap& headers, HeaderMap& cookies);
