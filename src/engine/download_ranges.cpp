#include "engine/download_ranges.h"

#include "engine/part_layout.h"

#include <algorithm>

std::vector<std::pair<std::uint64_t, std::uint64_t>>
MissingRanges(const PartBitmap& done, std::uint64_t size, std::uint64_t partSize) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    const std::uint64_t parts = PartCount(size, partSize);
    std::uint64_t part = 0;
    while (part < parts) {
        if (done.Test(part)) {
            ++part;
            continue;
        }
        const std::uint64_t first = part;
        while (part < parts && !done.Test(part)) {
            ++part;
        }
        ranges.emplace_back(first * partSize, std::min(part * partSize, size));
    }
    return ranges;
}

std::uint64_t SplitOffset(std::uint64_t current, std::uint64_t end, std::uint64_t partSize) {
    const std::uint64_t parts = PartCount(end - current, partSize);
    return current + parts / 2 * partSize;
}
