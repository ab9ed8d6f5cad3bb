#include "engine/secret_mask.h"

#include <array>

namespace {

constexpr std::string_view kMask = "***";
// "password" before "pass": at one position the longer name is taken.
constexpr std::array<std::string_view, 3> kSecretNames = {"token", "password", "pass"};

bool EndsQueryValue(char c) {
    return c == '&' || c == '#' || c == '"' || c == '\'' || c == '\\' || c == ' ' || c == '\t' ||
           c == '\r' || c == '\n';
}

std::size_t SkipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    return i;
}

// At `after` (just past a secret name) stands `=value` or `":"value"`: the value's range.
bool SecretValue(std::string_view text, std::size_t after, std::size_t& begin, std::size_t& end) {
    if (after >= text.size()) {
        return false;
    }
    if (text[after] == '=') {
        begin = after + 1;
        end = begin;
        while (end < text.size() && !EndsQueryValue(text[end])) {
            ++end;
        }
        return true;
    }
    if (text[after] != '"') {
        return false;
    }
    std::size_t i = SkipBlanks(text, after + 1);
    if (i >= text.size() || text[i] != ':') {
        return false;
    }
    i = SkipBlanks(text, i + 1);
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

// The first secret name at or after `from`: its position and length.
std::size_t FindSecretName(std::string_view text, std::size_t from, std::size_t& length) {
    std::size_t best = std::string_view::npos;
    for (const std::string_view name : kSecretNames) {
        const std::size_t at = text.find(name, from);
        if (at < best) {
            best = at;
            length = name.size();
        }
    }
    return best;
}

} // namespace

std::string MaskSecrets(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    std::size_t length = 0;
    std::size_t i = 0;
    while ((i = FindSecretName(text, i, length)) != std::string_view::npos) {
        std::size_t begin = 0;
        std::size_t end = 0;
        if (!SecretValue(text, i + length, begin, end)) {
            i += length;
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
