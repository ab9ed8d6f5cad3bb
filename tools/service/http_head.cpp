#include "http_head.h"

#include <strings.h>

namespace parvex_service {

namespace {

std::vector<std::string_view> SplitLines(std::string_view head) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    while (begin < head.size()) {
        std::size_t end = head.find("\r\n", begin);
        if (end == std::string_view::npos) {
            end = head.size();
        }
        if (end == begin) {
            break; // the blank line that ends the head
        }
        lines.push_back(head.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
    const std::size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string_view::npos) {
        return {};
    }
    const std::size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

RawHead ParseHead(std::string_view head) {
    RawHead parsed;
    const std::vector<std::string_view> lines = SplitLines(head);
    if (lines.empty()) {
        return parsed;
    }
    const std::string_view requestLine = lines[0];
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace != std::string_view::npos) {
        parsed.method = std::string(requestLine.substr(0, firstSpace));
        const std::size_t targetEnd = lastSpace > firstSpace ? lastSpace : requestLine.size();
        parsed.target = std::string(requestLine.substr(firstSpace + 1, targetEnd - firstSpace - 1));
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        parsed.headers.emplace_back(std::string(lines[i].substr(0, colon)),
                                    std::string(Trim(lines[i].substr(colon + 1), " \t")));
    }
    return parsed;
}

std::string NormaliseHead(std::string_view head) {
    const std::vector<std::string_view> lines = SplitLines(head);
    std::string out;
    out.reserve(head.size() + 8);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = Trim(lines[i], " \t\n");
        if (i == 0) {
            const std::size_t query = line.find('?');
            const std::size_t lastSpace = line.rfind(' ');
            for (std::size_t k = 0; k < line.size(); ++k) {
                if (line[k] == '?' && k != query && k < lastSpace) {
                    out += "%3F";
                } else {
                    out.push_back(line[k]);
                }
            }
        } else {
            const std::string_view name = Trim(line.substr(0, line.find(':')), " \t");
            if (SameName(name, "Range") || SameName(name, "Accept-Encoding")) {
                continue;
            }
            out += line;
        }
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

std::string HeaderValue(const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view name) {
    for (const auto& header : headers) {
        if (SameName(header.first, name)) {
            return header.second;
        }
    }
    return std::string();
}

} // namespace parvex_service
