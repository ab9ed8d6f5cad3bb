#include "url_text.h"

namespace parvex_service {

namespace {

bool IsKept(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '!':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '/':
    case '_':
    case '~':
        return true;
    default:
        return false;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string PercentEncode(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsKept(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
    return out;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return;
    }
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

QueryParams ParseQuery(std::string_view query, bool decode) {
    auto text = [decode](std::string_view part) {
        return decode ? PercentDecode(part) : std::string(part);
    };
    QueryParams params;
    std::size_t begin = 0;
    while (begin <= query.size()) {
        std::size_t end = query.find_first_of("&?", begin);
        if (end == std::string_view::npos) {
            end = query.size();
        }
        const std::string_view part = query.substr(begin, end - begin);
        if (!part.empty()) {
            const std::size_t eq = part.find('=');
            if (eq == std::string_view::npos) {
                params.emplace_back(text(part), std::string());
            } else {
                params.emplace_back(text(part.substr(0, eq)), text(part.substr(eq + 1)));
            }
        }
        begin = end + 1;
    }
    return params;
}

std::string QueryValue(const QueryParams& params, std::string_view name,
                       const std::string& fallback) {
    for (auto it = params.rbegin(); it != params.rend(); ++it) {
        if (it->first == name) {
            return it->second;
        }
    }
    return fallback;
}

bool HasQueryValue(const QueryParams& params, std::string_view name) {
    for (const auto& param : params) {
        if (param.first == name) {
            return true;
        }
    }
    return false;
}

} // namespace parvex_service
