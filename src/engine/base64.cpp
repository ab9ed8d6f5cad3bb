#include "engine/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kInvalid);
    for (std::uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

} // namespace

std::string Base64Encode(std::string_view bytes) {
    const auto byte = [&](std::size_t i) -> std::uint32_t {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    };
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        const std::size_t taken = std::min<std::size_t>(3, bytes.size() - i);
        text.push_back(kAlphabet[group >> 18 & 0x3F]);
        text.push_back(kAlphabet[group >> 12 & 0x3F]);
        text.push_back(taken > 1 ? kAlphabet[group >> 6 & 0x3F] : '=');
        text.push_back(taken > 2 ? kAlphabet[group & 0x3F] : '=');
    }
    return text;
}

std::optional<std::string> Base64DecodeChecked(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // Padding may only close the final group: "xx==" or "xxx=".
        std::size_t padding = 0;
        if (last && text[i + 3] == '=') {
            padding = text[i + 2] == '=' ? 2 : 1;
        }
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            std::uint8_t value = 0;
            if (k < 4 - padding) {
                value = kDecode[static_cast<unsigned char>(text[i + k])];
                if (value == kInvalid) {
                    return std::nullopt;
                }
            }
            group = group << 6 | value;
        }
        // Bits below the last whole byte must be zero, so every byte string has one encoding.
        if ((padding == 2 && (group & 0xFFFF) != 0) || (padding == 1 && (group & 0xFF) != 0)) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(group >> 16 & 0xFF));
        if (padding < 2) {
            bytes.push_back(static_cast<char>(group >> 8 & 0xFF));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<char>(group & 0xFF));
        }
    }
    return bytes;
}

std::string Base64Decode(std::string_view text) {
    return Base64DecodeChecked(text).value_or(std::string());
}
