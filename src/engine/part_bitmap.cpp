#include "engine/part_bitmap.h"

#include <algorithm>
#include <bit>

namespace {

constexpr std::size_t kWordBits = 32;

std::size_t WordsFor(std::size_t bits) {
    return (bits + kWordBits - 1) / kWordBits;
}

} // namespace

bool PartBitmap::Test(std::size_t bit) const {
    if (bit >= m_bitCount) {
        return false;
    }
    return (m_words[bit / kWordBits] >> (bit % kWordBits)) & 1U;
}

void PartBitmap::Set(std::size_t bit, bool value) {
    if (bit >= m_bitCount) {
        if (!value) {
            return;
        }
        Resize(bit + 1);
    }
    const std::uint32_t mask = 1U << (bit % kWordBits);
    if (value) {
        m_words[bit / kWordBits] |= mask;
    } else {
        m_words[bit / kWordBits] &= ~mask;
    }
}

void PartBitmap::Resize(std::size_t bitCount) {
    m_words.resize(WordsFor(bitCount), 0);
    m_bitCount = bitCount;
    const std::size_t used = bitCount % kWordBits;
    if (used != 0) {
        m_words.back() &= (1U << used) - 1U;
    }
}

std::size_t PartBitmap::CountSet() const {
    std::size_t count = 0;
    for (std::uint32_t word : m_words) {
        count += static_cast<std::size_t>(std::popcount(word));
    }
    return count;
}

bool PartBitmap::Any() const {
    return std::any_of(m_words.begin(), m_words.end(), [](std::uint32_t w) { return w != 0; });
}

void PartBitmap::Union(const PartBitmap& other) {
    if (other.m_bitCount > m_bitCount) {
        Resize(other.m_bitCount);
    }
    for (std::size_t i = 0; i < other.m_words.size(); ++i) {
        m_words[i] |= other.m_words[i];
    }
}

void PartBitmap::Difference(const PartBitmap& other) {
    const std::size_t common = std::min(m_words.size(), other.m_words.size());
    for (std::size_t i = 0; i < common; ++i) {
        m_words[i] &= ~other.m_words[i];
    }
}

std::string PartBitmap::ToText() const {
    std::string text(m_bitCount, '0');
    for (std::size_t bit = 0; bit < m_bitCount; ++bit) {
        if (Test(bit)) {
            text[bit] = '1';
        }
    }
    return text;
}

void PartBitmap::FromText(std::string_view text) {
    m_words.assign(WordsFor(text.size()), 0);
    m_bitCount = text.size();
    for (std::size_t bit = 0; bit < text.size(); ++bit) {
        if (text[bit] != '0') {
            m_words[bit / kWordBits] |= 1U << (bit % kWordBits);
        }
    }
}
