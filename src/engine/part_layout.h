#pragma once

#include "engine/part_bitmap.h"

#include <cstdint>

// Files are moved in parts: 1 MiB for a download, 4 MiB for an upload.
inline constexpr std::uint64_t kDownloadPartSize = 1048576;
inline constexpr std::uint64_t kUploadPartSize = 4194304;

inline std::uint64_t PartSizeFor(bool upload) {
    return upload ? kUploadPartSize : kDownloadPartSize;
}

// ceil(size / partSize); 0 for a part size of 0.
std::uint64_t PartCount(std::uint64_t size, std::uint64_t partSize);

// Bytes covered by the set bits of the first PartCount parts; the last part counts with its own
// length.
std::uint64_t CompleteBytes(const PartBitmap& parts, std::uint64_t size, std::uint64_t partSize);

// The bitmap has exactly one bit per part and all are set (a file of size 0 is complete).
bool HasAllParts(const PartBitmap& parts, std::uint64_t size, std::uint64_t partSize);
