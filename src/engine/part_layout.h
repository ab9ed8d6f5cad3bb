#pragma once

#include "engine/part_bitmap.h"

#include <cstdint>

// Files are moved in parts: 1 MiB for a download, 4 MiB for an upload.
inline constexpr std::uint64_t kDownloadPartSize = 1048576;
inline constexpr std::uint64_t kUploadPartSize = 4194304;

inline std::uint64_t PartSizeFor(bool upload) {
    return upload ? kUploadPartSize : kDownloadPartSize;
}

// The largest file size taken from the service (1 PiB): a listed size that is negative, not an
// integer or above it is refused before anything is sized after it.
inline constexpr std::uint64_t kMaxItemSize = std::uint64_t{1} << 50;
// The size a file is recorded with when its listed size was refused: its download fails.
inline constexpr std::uint64_t kRefusedItemSize = kMaxItemSize + 1;

// ceil(size / partSize); 0 for a part size of 0.
std::uint64_t PartCount(std::uint64_t size, std::uint64_t partSize);

// Bytes covered by the set bits of the first PartCount parts; the last part counts with its own
// length.
std::uint64_t CompleteBytes(const PartBitmap& parts, std::uint64_t size, std::uint64_t partSize);

// The bitmap has exactly one bit per part and all are set (a file of size 0 is complete).
bool HasAllParts(const PartBitmap& parts, std::uint64_t size, std::uint64_t partSize);
