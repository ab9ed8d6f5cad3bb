#include "engine/engine_clock.h"
#include "engine/speed_meter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class SpeedMeterTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kNow = 1'700'000'000'000;
    void SetUp() override { SetEngineClockForTesting(kNow); }
    void TearDown() override { SetEngineClockForTesting(std::nullopt); }
    SpeedMeter m_meter;
};

TEST_F(SpeedMeterTest, WindowIsAlwaysFiveSeconds) {
    m_meter.RecordSample("T", kNow - 1000, 1'000'000);
    EXPECT_EQ(m_meter.GetSpeed("T"), 200'000u);
    EXPECT_EQ(m_meter.GetSpeed("other"), 0u);
}

TEST_F(SpeedMeterTest, StraddlingSampleCountsItsShareInsideTheWindow) {
    SetEngineClockForTesting(kNow - 4000);
    m_meter.RecordSample("T", kNow - 6000, 2000); // 6 s ago to 4 s ago
    SetEngineClockForTesting(kNow);
    EXPECT_EQ(m_meter.GetSpeed("T"), 200u);
}

TEST_F(SpeedMeterTest, OldSamplesDropOut) {
    SetEngineClockForTesting(kNow - 7000);
    m_meter.RecordSample("T", kNow - 8000, 5000);
    SetEngineClockForTesting(kNow - 1000);
    m_meter.RecordSample("T", kNow - 2000, 1000);
    SetEngineClockForTesting(kNow);
    EXPECT_EQ(m_meter.GetSpeed("T"), 200u) << "the sample that ended 7 s ago is gone";
    AdvanceEngineClockForTesting(10'000);
    EXPECT_EQ(m_meter.GetSpeed("T"), 0u);
    m_meter.Remove("T");
    EXPECT_EQ(m_meter.GetSpeed("T"), 0u);
}

TEST_F(SpeedMeterTest, EarlyClockDoesNotUnderflow) {
    SetEngineClockForTesting(2000);
    m_meter.RecordSample("T", 1000, 500);
    EXPECT_EQ(m_meter.GetSpeed("T"), 100u);
}

TEST_F(SpeedMeterTest, RecordAndReadFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            const std::string key = t % 2 == 0 ? "A" : "B";
            for (int i = 0; i < 500; ++i) {
                m_meter.RecordSample(key, kNow, 10);
                m_meter.GetSpeed(key);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(m_meter.GetSpeed("A"), 2u * 500 * 10 / 5);
}

TEST(EngineClock, NeverGoesBackAndFollowsTheWallClock) {
    const std::uint64_t first = EngineNow();
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    EXPECT_NEAR(static_cast<double>(first), static_cast<double>(wall), 2000.0);
    std::uint64_t last = first;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t now = EngineNow();
        ASSERT_GE(now, last);
        last = now;
    }
}

} // namespace
