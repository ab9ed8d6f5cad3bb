#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(EngineSettings, TextOptions) {
    CEngineSettings settings;
    const std::pair<int, std::string (CEngineSettings::*)() const> texts[] = {
        {kOptionServiceAddress, &CEngineSettings::ServiceAddress},
        {kOptionSessionText, &CEngineSettings::SessionText},
        {kOptionDefaultDataServer, &CEngineSettings::DefaultDataServer},
        {kOptionDataFolder, &CEngineSettings::DataFolder},
        {kOptionProxyServer, &CEngineSettings::ProxyServer},
        {kOptionProxyUser, &CEngineSettings::ProxyUser},
        {kOptionProxyPassword, &CEngineSettings::ProxyPassword},
        {kOptionLanguage, &CEngineSettings::Language},
    };
    for (const auto& [type, read] : texts) {
        const std::string value = "value " + std::to_string(type) + " 中文";
        settings.SetOption(type, value);
        EXPECT_EQ((settings.*read)(), value) << type;
    }
    settings.SetOption(kOptionLanguage, "");
    EXPECT_EQ(settings.Language(), "");
}

TEST(EngineSettings, FlagsAreTrueUnlessFalse) {
    const std::pair<const char*, bool> values[] = {
        {"false", false}, {"FALSE", false}, {"False", false}, {"true", true},
        {"", true},       {"0", true},      {" false", true}, {"falsey", true},
    };
    const std::pair<int, bool (CEngineSettings::*)() const> flags[] = {
        {kOptionDeleteFinished, &CEngineSettings::DeleteFinished},
        {kOptionLoadAtStart, &CEngineSettings::LoadAtStart},
        {kOptionAutoRetry, &CEngineSettings::AutoRetry},
        {kOptionResumeOnLoad, &CEngineSettings::ResumeOnLoad},
    };
    for (const auto& [type, read] : flags) {
        for (const auto& [value, expected] : values) {
            CEngineSettings settings;
            settings.SetOption(type, value);
            EXPECT_EQ((settings.*read)(), expected) << type << " " << value;
        }
    }
}

TEST(EngineSettings, DefaultsSpeedFactorAndUnknownTypes) {
    CEngineSettings settings;
    EXPECT_FALSE(settings.DeleteFinished());
    EXPECT_TRUE(settings.LoadAtStart());
    EXPECT_TRUE(settings.AutoRetry());
    EXPECT_TRUE(settings.ResumeOnLoad());
    EXPECT_FALSE(settings.IncrementalSync());
    EXPECT_EQ(settings.SpeedFactor(), 1.0);

    const std::pair<const char*, double> factors[] = {
        {"2", 0.5},  {"0", 1.5},   {"1", 1.0}, {" 2 ", 0.5}, {"3", 1.0},
        {"-1", 1.0}, {"abc", 1.0}, {"", 1.0},  {"2x", 1.0},
    };
    for (const auto& [value, factor] : factors) {
        CEngineSettings fresh;
        fresh.SetOption(kOptionSpeedFactor, value);
        EXPECT_EQ(fresh.SpeedFactor(), factor) << value;
    }

    settings.SetOption(kOptionLanguage, "en");
    settings.SetOption(14, "x");
    settings.SetOption(0, "x");
    settings.SetOption(-1, "x");
    EXPECT_EQ(settings.Language(), "en");
    EXPECT_EQ(settings.ServiceAddress(), "");

    settings.SetOption(kOptionLoadAtStart, "false");
    settings.ResetToDefaults();
    EXPECT_TRUE(settings.LoadAtStart());
    EXPECT_EQ(settings.Language(), "");
}

std::vector<std::pair<int, std::string>> g_lines;

void Capture(int level, const char* text) {
    g_lines.emplace_back(level, text);
}

TEST(EngineLog, GoesThroughTheHookOnlyWhenOneIsSet) {
    g_lines.clear();
    SetEngineLogHook(nullptr);
    EngineLog(kEngineLogInfo, "dropped");
    EngineLogF(kEngineLogError, "dropped %d", 1);
    EXPECT_TRUE(g_lines.empty());

    SetEngineLogHook(&Capture);
    EngineLog(kEngineLogInfo, "plain 中文");
    EngineLogF(kEngineLogError, "task %s code %d", "T", 12030);
    SetEngineLogHook(nullptr);
    EngineLog(kEngineLogInfo, "after");
    EXPECT_EQ(g_lines,
              (std::vector<std::pair<int, std::string>>{{kEngineLogInfo, "plain 中文"},
                                                        {kEngineLogError, "task T code 12030"}}));
}

} // namespace
