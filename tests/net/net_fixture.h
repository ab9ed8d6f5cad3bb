#pragma once

#include "engine/engine_context.h"
#include "engine/log_capture.h"
#include "net/http_options.h"

#include <gtest/gtest.h>

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

    LogCapture m_log;
};
