#include "engine/part_layout.h"

std::uint64_t PartCount(std::uint64_t size, std::uint64_t partSize) {
    if (partSize == 0) {
        return 0;
    }
    return size / partSize + (size % partSize != 0 ? 1 : 0);
}

std::uint64_t CompleteBytes(const PartBitmap& parts, std::uint64_t size, std::uint64_t partSize) {
    const std::uint64_t count = PartCount(size, partSize);
    if (count == 0) {
        return 0;
    }
    // Only bits of real parts count, so a bitmap longer than the file cannot inflate progress.
    std::uint64_t set = 0;
    for (std::uint64_t bit = 0; bit < count && bit < parts.BitCount(); ++bit) {
        set += parts.Test(bit) ? 1 : 0;
    }
    if (!parts.Test(count - 1)) {
        return set * partSize;
    }
    return (set - 1) * partSize + (size - (count - 1) * partSize);
}

bool HasAllParts(const PartBitmap& parts, std::uint64_t size, std::uint64_t partSize) {
    if (partSize == 0) {
        return false;
    }
    const std::uint64_t count = PartCount(size, partSize);
    if (parts.BitCount() != count) {
        return false;
    }
    return parts.CountSet() == count;
}
