#include "log/wide_text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = kReplacement;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes the sequence at `pos`. Returns its length (0 when ill-formed) and the code point.
std::size_t DecodeAt(std::string_view text, std::size_t pos, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// Calls visit(code point, well-formed) for every character, an ill-formed byte being one.
template <typename Visit>
void ForEachChar(std::string_view text, Visit visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t length = DecodeAt(text, pos, cp);
        if (length == 0) {
            visit(kReplacement, pos, std::size_t{1}, false);
            ++pos;
        } else {
            visit(cp, pos, length, true);
            pos += length;
        }
    }
}

} // namespace

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text) {
        AppendUtf8(out, static_cast<char32_t>(ch));
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    ForEachChar(text, [&](char32_t cp, std::size_t, std::size_t, bool) {
        out.push_back(static_cast<wchar_t>(cp));
    });
    return out;
}

bool IsValidUtf8(std::string_view text) {
    bool valid = true;
    ForEachChar(text, [&](char32_t, std::size_t, std::size_t, bool ok) { valid = valid && ok; });
    return valid;
}

std::string ToValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachChar(text, [&](char32_t cp, std::size_t pos, std::size_t length, bool ok) {
        if (ok) {
            out.append(text.substr(pos, length));
        } else {
            AppendUtf8(out, cp);
        }
    });
    return out;
}

std::size_t CountUtf8Chars(std::string_view text) {
    std::size_t count = 0;
    ForEachChar(text, [&](char32_t, std::size_t, std::size_t, bool) { ++count; });
    return count;
}
