#include "engine/store_flusher.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using testing_support::WaitUntil;

constexpr auto kDeadline = std::chrono::seconds(20);

// What a flusher did, in order: "flush A", "release A".
class FlusherLog {
public:
    CStoreFlusher::FlushTask Step(const std::string& name) {
        return [this, name](const std::string& taskId) {
            std::lock_guard lock(m_mutex);
            m_steps.push_back(name + " " + taskId);
        };
    }
    std::vector<std::string> Steps() const {
        std::lock_guard lock(m_mutex);
        return m_steps;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_steps;
};

// A store keeps its connection while flushes keep coming: the flusher lets go of it once they
// stop, so a data folder of many tasks never holds a connection per task.
TEST(StoreFlusherTest, LetsGoOfWhatItWroteOnceRequestsStop) {
    FlusherLog log;
    CStoreFlusher flusher(log.Step("flush"), log.Step("release"));
    flusher.Request("A");
    ASSERT_TRUE(WaitUntil([&] { return log.Steps().size() >= 2; }, kDeadline));
    EXPECT_THAT(log.Steps(), ElementsAre("flush A", "release A"));

    // Finishing writes what is still asked for and lets go of it, on the caller's thread.
    CStoreFlusher finishing(log.Step("flush"), log.Step("release"));
    finishing.Request("B");
    finishing.Finish();
    finishing.Request("C"); // after Finish: dropped
    EXPECT_THAT(log.Steps(), ElementsAre("flush A", "release A", "flush B", "release B"));
}

} // namespace
