#include "engine/folder_walk_guard.h"

bool CFolderWalkGuard::EnterFolder(std::string_view address, int depth) {
    if (depth < 0 || depth > kMaxDepth) {
        return false;
    }
    return m_walked.emplace(address).second;
}

bool CFolderWalkGuard::AddItems(std::size_t count) {
    m_items += count;
    return m_items <= kMaxItems;
}

bool CFolderPages::Accept(std::string_view firstItem) {
    if (m_seen && !firstItem.empty() && firstItem == m_previousFirst) {
        return false;
    }
    m_seen = true;
    m_previousFirst = firstItem;
    return true;
}
