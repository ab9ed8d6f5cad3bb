#include "engine/hex_text.h"

std::string MakeHex(const void* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::string MakeHex(std::string_view bytes) {
    return MakeHex(bytes.data(), bytes.size());
}
