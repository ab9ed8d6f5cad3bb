#include "file_content.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace parvex_service {

namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

// The splitmix64 finaliser: a cheap bijection with good avalanche.
std::uint64_t Mix(std::uint64_t x) {
    x += kGolden;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Word k of the content, in little-endian byte order.
void StoreWord(std::uint64_t seed, std::uint64_t k, unsigned char* out) {
    std::uint64_t word = Mix(seed ^ k);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    std::memcpy(out, &word, sizeof(word));
}

} // namespace

std::uint64_t ContentSeed(std::string_view code, std::string_view path) {
    // FNV-1a over code, a separator that no text holds, and path; then mixed once more.
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    auto add = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001B3ULL;
    };
    for (char c : code) {
        add(static_cast<unsigned char>(c));
    }
    add(0xFF);
    for (char c : path) {
        add(static_cast<unsigned char>(c));
    }
    return Mix(hash);
}

void FillContent(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length) {
    auto* dst = reinterpret_cast<unsigned char*>(out);
    std::uint64_t k = offset / 8;
    unsigned char word[8];
    // A head that starts inside a word.
    if (const std::size_t skip = offset % 8; skip != 0 && length > 0) {
        StoreWord(seed, k++, word);
        const std::size_t n = std::min<std::size_t>(8 - skip, length);
        std::memcpy(dst, word + skip, n);
        dst += n;
        length -= n;
    }
    while (length >= 8) {
        StoreWord(seed, k++, dst);
        dst += 8;
        length -= 8;
    }
    if (length > 0) {
        StoreWord(seed, k, word);
        std::memcpy(dst, word, length);
    }
}

std::uint64_t ReplacedContentSeed(std::uint64_t seed) {
    return Mix(seed ^ 0x5265706C61636564ULL);
}

std::string ContentETag(std::uint64_t seed) {
    char text[19];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(seed));
    return text;
}

std::string FileContent(const std::string& code, const std::string& path, std::uint64_t offset,
                        std::size_t length) {
    std::string out(length, '\0');
    FillContent(ContentSeed(code, path), offset, out.data(), length);
    return out;
}

std::string ConvertedContentPath(std::string_view itemPath) {
    return std::string(itemPath) + "#converted";
}

std::string WatermarkContentPath(std::string_view itemPath) {
    return std::string(itemPath) + "#watermark";
}

std::string RevisionContentPath(std::string_view storagePath, std::string_view rev) {
    return std::string(storagePath) + "@" + std::string(rev);
}

} // namespace parvex_service
