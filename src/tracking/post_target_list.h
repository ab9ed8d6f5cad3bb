#pragma once

#include "tracking/post_targets.h"

#include <QObject>

#include <mutex>
#include <vector>

// The receivers one background thread posts to, in registration order. Its lock is held while
// a change is posted to all of them, so a receiver registering meanwhile sees either all of a
// change or none; the caller takes it with Lock() and then uses the *Locked operations.
class CPostTargetList {
public:
    [[nodiscard]] std::unique_lock<std::mutex> Lock() const {
        return std::unique_lock<std::mutex>(m_mutex);
    }

    // Registers `receiver` and appends it unless it is listed; false for null or listed.
    bool AddLocked(QObject* receiver, post_targets::Target& added);

    // Visits every receiver still registered; those that are gone leave the list.
    template <typename Visit>
    void ForEachLocked(Visit visit) {
        std::erase_if(m_targets,
                      [](const post_targets::Target& t) { return !post_targets::IsRegistered(t); });
        for (const post_targets::Target& target : m_targets) {
            visit(target);
        }
    }

private:
    mutable std::mutex m_mutex;
    std::vector<post_targets::Target> m_targets;
};
