#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parvex_service {

// Keeps A-Z a-z 0-9 and ! ' ( ) * - . / _ ~; every other byte becomes "%" and two lower-case
// hexadecimal digits (the form the client sends and expects in metadata URLs).
std::string PercentEncode(std::string_view text);

// Decodes "%XX" in either case. A "%" not followed by two hexadecimal digits stays as it is,
// and "+" stays "+": the client encodes blanks as "%20" and a Base64 "+" may arrive unencoded.
std::string PercentDecode(std::string_view text);

// Replaces every `from` in `text` by `to`, left to right; an empty `from` changes nothing.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);

using QueryParams = std::vector<std::pair<std::string, std::string>>;

// Splits a raw query (or form body) at "&", and also at "?", since the client appends
// "?token=..." to download URLs that already hold a query. Names and values are decoded unless
// `decode` is false.
QueryParams ParseQuery(std::string_view query, bool decode = true);

// The value of the last parameter named `name` (a later one overrides an earlier one, as when
// the client appends "&offset=" to a URL that already carries one), or `fallback`.
std::string QueryValue(const QueryParams& params, std::string_view name,
                       const std::string& fallback = std::string());
bool HasQueryValue(const QueryParams& params, std::string_view name);

} // namespace parvex_service
