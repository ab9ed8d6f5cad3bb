#pragma once

#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/log_capture.h"
#include "store/store_connection.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>

// An engine whose data folder is a fresh temporary folder, on a test clock, with its log
// collected.
class StoreTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kStart = 1'700'000'000'000;

    void SetUp() override {
        Settings().ResetToDefaults();
        Settings().SetOption(kOptionDataFolder, m_dir.Path());
        SetEngineClockForTesting(kStart);
    }
    void TearDown() override {
        SetEngineClockForTesting(std::nullopt);
        SetStoreBusyTimeoutForTesting(-1);
        Settings().ResetToDefaults();
    }

    static CEngineSettings& Settings() { return GetEngineContext().settings; }
    std::string TasksDb() const { return m_dir.File("tasks.db"); }

    testing_support::TempDir m_dir;
    LogCapture m_log;
};
