#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Transfer rates per key (the engine keys by task id) over the last five seconds. Workers record
// samples while readers of task records ask for the rate, from any thread.
class SpeedMeter {
public:
    static constexpr std::uint64_t kWindowMs = 5000;

    // Adds a sample of `bytes` that started at `start` (engine clock) and ends now. The upload
    // flag does not change what is recorded.
    void RecordSample(const std::string& key, std::uint64_t start, std::uint32_t bytes,
                      bool upload = false);

    // Bytes per second over the last five seconds; 0 for an unknown key.
    std::uint64_t GetSpeed(const std::string& key);

    // Forgets a key (a task that is gone).
    void Remove(const std::string& key);
    // Forgets every key (the engine shut down).
    void Clear();

private:
    struct Sample {
        std::uint64_t start;
        std::uint64_t end;
        std::uint32_t bytes;
    };
    struct SampleList {
        std::mutex mutex;
        std::deque<Sample> samples; // newest first
    };

    std::shared_ptr<SampleList> Find(const std::string& key, bool create);

    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<SampleList>> m_lists;
};
