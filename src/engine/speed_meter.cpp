#include "engine/speed_meter.h"

#include "engine/engine_clock.h"

#include <cstdint>

std::shared_ptr<SpeedMeter::SampleList> SpeedMeter::Find(const std::string& key, bool create) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_lists.find(key);
    if (it != m_lists.end()) {
        return it->second;
    }
    if (!create) {
        return nullptr;
    }
    auto list = std::make_shared<SampleList>();
    m_lists.emplace(key, list);
    return list;
}

void SpeedMeter::RecordSample(const std::string& key, std::uint64_t start, std::uint32_t bytes,
                              bool /*upload*/) {
    const std::uint64_t now = EngineNow();
    const auto list = Find(key, true);
    std::lock_guard<std::mutex> lock(list->mutex);
    list->samples.push_front(Sample{start, now, bytes});
    // The oldest samples are at the back: drop the expired ones without walking the window.
    while (list->samples.size() > 1 && list->samples.back().end + kWindowMs < now) {
        list->samples.pop_back();
    }
}

std::uint64_t SpeedMeter::GetSpeed(const std::string& key) {
    const auto list = Find(key, false);
    if (!list) {
        return 0;
    }
    // Signed, so a clock still within its first five seconds has a window before zero.
    const std::int64_t windowStart = static_cast<std::int64_t>(EngineNow()) - kWindowMs;
    std::uint64_t total = 0;
    std::lock_guard<std::mutex> lock(list->mutex);
    for (auto it = list->samples.begin(); it != list->samples.end(); ++it) {
        const auto start = static_cast<std::int64_t>(it->start);
        const auto end = static_cast<std::int64_t>(it->end);
        if (start >= windowStart) {
            total += it->bytes;
        } else if (end < windowStart) {
            list->samples.erase(it, list->samples.end());
            break;
        } else {
            // Straddles the window start: only the share inside the window counts.
            total += static_cast<std::uint64_t>(it->bytes) *
                     static_cast<std::uint64_t>(end - windowStart) /
                     static_cast<std::uint64_t>(end - start);
        }
    }
    return total / (kWindowMs / 1000);
}

void SpeedMeter::Remove(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lists.erase(key);
}

void SpeedMeter::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lists.clear();
}
