#include "net/http_headers.h"

#include "engine/ascii_text.h"

std::vector<std::string> RequestHeaderLines(const HeaderMap& headers) {
    std::vector<std::string> lines;
    for (const auto& [name, value] : headers) {
        const std::string entry = name + ":" + value;
        std::size_t start = 0;
        while (start <= entry.size()) {
            std::size_t end = entry.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                end = entry.size();
            }
            if (end > start) {
                lines.push_back(entry.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    return lines;
}

std::string CookieLine(const HeaderMap& cookies) {
    if (cookies.empty()) {
        return {};
    }
    std::string line = "Cookie: ";
    bool first = true;
    for (const auto& [name, value] : cookies) {
        if (!first) {
            line += ";";
        }
        first = false;
        line += name + "=" + value;
    }
    return line;
}

void ParseResponseHeaders(std::string_view raw, HeaderMap& headers, HeaderMap& cookies) {
    std::size_t start = 0;
    while (start < raw.size()) {
        // Lines end in CR LF, or in a bare LF or CR from a careless server.
        std::size_t end = raw.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            end = raw.size();
        }
        const std::string_view line = raw.substr(start, end - start);
        start = end + (raw.substr(end, 2) == "\r\n" ? 2 : 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string name = AsciiLower(TrimBlanks(line.substr(0, colon)));
        const std::string value(TrimBlanks(line.substr(colon + 1)));
        headers[name] = value;
        if (name != "set-cookie") {
            continue;
        }
        std::size_t pieceStart = 0;
        while (pieceStart <= value.size()) {
            std::size_t pieceEnd = value.find(';', pieceStart);
            if (pieceEnd == std::string::npos) {
                pieceEnd = value.size();
            }
            const std::string_view piece =
                std::string_view(value).substr(pieceStart, pieceEnd - pieceStart);
            const std::size_t equals = piece.find('=');
            if (equals != std::string_view::npos &&
                piece.find('=', equals + 1) == std::string_view::npos) {
                cookies[std::string(TrimBlanks(piece.substr(0, equals)))] =
                    std::string(TrimBlanks(piece.substr(equals + 1)));
            }
            pieceStart = pieceEnd + 1;
        }
    }
}
