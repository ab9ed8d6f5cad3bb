#include "engine/secret_mask.h"

namespace {

constexpr std::string_view kMask = "***";

bool EndsQueryValue(char c) {
    return c == '&' || c == '#' || c == '"' || c == '\'' || c == '\\' || c == ' ' || c == '\t' ||
           c == '\r' || c == '\n';
}

// At `at` starts `token":` (optionally with blanks before the colon) followed by a JSON string:
// returns the range of the string's contents.
bool JsonTokenValue(std::string_view text, std::size_t at, std::size_t& begin, std::size_t& end) {
    std::size_t i = at + 6; // after `token"`
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i >= text.size() || text[i] != ':') {
        return false;
    }
    ++i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i >= text.size() || text[i] != '"') {
        return false;
    }
    begin = ++i;
    while (i < text.size() && text[i] != '"') {
        i += text[i] == '\\' ? 2 : 1;
    }
    end = i < text.size() ? i : text.size();
    return true;
}

} // namespace

std::string MaskSecrets(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    std::size_t i = 0;
    while ((i = text.find("token", i)) != std::string_view::npos) {
        const std::size_t after = i + 5;
        std::size_t begin = 0;
        std::size_t end = 0;
        bool found = false;
        if (after < text.size() && text[after] == '=') {
            begin = after + 1;
            end = begin;
            while (end < text.size() && !EndsQueryValue(text[end])) {
                ++end;
            }
            found = true;
        } else if (after < text.size() && text[after] == '"') {
            found = JsonTokenValue(text, i, begin, end);
        }
        if (!found) {
            i = after;
            continue;
        }
        out.append(text.substr(copied, begin - copied));
        if (end > begin) {
            out.append(kMask);
        }
        copied = end;
        i = end;
    }
    out.append(text.substr(copied));
    return out;
}
