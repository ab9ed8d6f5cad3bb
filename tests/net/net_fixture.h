#pragma once

#include "engine/engine_context.h"
#include "engine/log_capture.h"
#include "net/http_options.h"

#include <gtest/gtest.h>

#include <cstdint>

// Network tests: default settings in English, short time-outs, the engine log collected.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings().ResetToDefaults();
        Settings().SetOption(kOptionLanguage, "en");
        SetHttpTimeoutsForTesting({2000, 2000, 4000});
    }
    void TearDown() override {
        SetHttpTimeoutsForTesting({});
        SetHttpShutdown(false);
        Settings().ResetToDefaults();
    }
    static CEngineSettings& Settings() { return GetEngineContext().settings; }

    // A case that waits for a time-out gets a short quiet time; any other case a long one, so a
    // reply slowed by a loaded machine is not taken for silence.
    static void QuietTimeFor(bool waitsForTimeout, std::uint64_t shortMs) {
        const std::uint64_t quietMs = waitsForTimeout ? shortMs : 10000;
        SetHttpTimeoutsForTesting({2000, quietMs, quietMs});
    }

    LogCapture m_log;
};
