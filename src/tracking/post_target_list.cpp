#include "tracking/post_target_list.h"

#include <algorithm>

bool CPostTargetList::AddLocked(QObject* receiver, post_targets::Target& added) {
    if (receiver == nullptr) {
        return false;
    }
    added = post_targets::Register(receiver);
    if (std::find(m_targets.begin(), m_targets.end(), added) != m_targets.end()) {
        return false;
    }
    m_targets.push_back(added);
    return true;
}
