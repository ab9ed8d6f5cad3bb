#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

// Bounds a walk of a folder tree the service lists, so that a service that ignores the page
// offset, repeats a page, lists a folder inside itself or lists without end cannot keep a walk
// going and allocating. Each refusal ends the walk with engine_code::kEndlessListing.
class CFolderWalkGuard {
public:
    static constexpr std::uint64_t kMaxItems = 1'000'000;
    static constexpr int kMaxDepth = 256; // folder levels below the walk's root

    // A folder about to be listed at `depth` (0: the root). False when its address was walked
    // already in this walk or it lies too deep.
    bool EnterFolder(std::string_view address, int depth);
    // Items listed; false once the walk holds more than kMaxItems.
    bool AddItems(std::size_t count);

private:
    std::unordered_set<std::string> m_walked;
    std::uint64_t m_items = 0;
};

// The pages of one folder: a page must bring something new. A page whose first item is the
// previous page's first item was served again (a repeated page, an offset the service ignores).
class CFolderPages {
public:
    // False when the page repeats the previous one; `firstItem` names the page's first item
    // (its path), empty for an empty page.
    bool Accept(std::string_view firstItem);

private:
    std::string m_previousFirst;
    bool m_seen = false;
};
