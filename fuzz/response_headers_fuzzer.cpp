// A raw response header block as the server sent it: header names and values, and the
// cookies of its "Set-Cookie" lines.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "net/http_headers.h"

#include <algorithm>

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsTrimmed(std::string_view text) {
    return text.empty() || (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' &&
                            text.back() != '\t');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw = InputText(data, size);
    HeaderMap headers;
    HeaderMap cookies;
    ParseResponseHeaders(raw, headers, cookies);
    for (const auto& [name, value] : headers) {
        // Nothing of one line may run into another, and names compare in lower case.
        FUZZ_CHECK(!HasLineBreak(name) && !HasLineBreak(value), raw);
        FUZZ_CHECK(IsTrimmed(name) && IsTrimmed(value), raw);
        FUZZ_CHECK(
            std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; }),
            raw);
        FUZZ_CHECK(name.find(':') == std::string::npos, raw);
    }
    for (const auto& [name, value] : cookies) {
        FUZZ_CHECK(!HasLineBreak(name) && !HasLineBreak(value), raw);
        FUZZ_CHECK(name.find(';') == std::string::npos && value.find(';') == std::string::npos,
                   raw);
    }
    // The cookie line sent back holds no line break either.
    FUZZ_CHECK(!HasLineBreak(CookieLine(cookies)), raw);
    return 0;
}
