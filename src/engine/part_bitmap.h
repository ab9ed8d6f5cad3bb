#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One bit per part of a file. Bit i lives in word i / 32 at position i % 32.
class PartBitmap {
public:
    std::size_t BitCount() const { return m_bitCount; }
    const std::vector<std::uint32_t>& Words() const { return m_words; }

    // A bit past the end reads clear.
    bool Test(std::size_t bit) const;
    // Setting a bit past the end first grows the bitmap to hold it; clearing one does nothing.
    void Set(std::size_t bit, bool value = true);
    void Clear(std::size_t bit) { Set(bit, false); }
    // New bits are clear; shrinking also clears the unused high bits of the last word.
    void Resize(std::size_t bitCount);

    std::size_t CountSet() const;
    bool Any() const;
    // Bits set in either; the bit count becomes the larger of the two.
    void Union(const PartBitmap& other);
    // Bits of this one that are not set in the other.
    void Difference(const PartBitmap& other);

    // "1" for a set bit and "0" for a clear one, bit 0 first.
    std::string ToText() const;
    // The bit count becomes the text's length; every character other than "0" sets its bit.
    void FromText(std::string_view text);

    bool operator==(const PartBitmap&) const = default;

private:
    std::size_t m_bitCount = 0;
    std::vector<std::uint32_t> m_words;
};
