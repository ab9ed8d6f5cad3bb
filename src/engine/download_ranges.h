#pragma once

#include "engine/part_bitmap.h"

#include <cstdint>
#include <utility>
#include <vector>

// The byte ranges [start, end) still missing from a file: one per maximal run of clear bits of
// its transfer bitmap, the last one cut at the file's size. A file of size 0 has none.
std::vector<std::pair<std::uint64_t, std::uint64_t>>
MissingRanges(const PartBitmap& done, std::uint64_t size, std::uint64_t partSize);

// Where a range that has reached `current` is split in two: after half of its remaining whole
// parts, so both halves start on a part boundary.
std::uint64_t SplitOffset(std::uint64_t current, std::uint64_t end, std::uint64_t partSize);
