#include "engine/engine_context.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

class MessageTextsTest : public ::testing::Test {
protected:
    void TearDown() override { GetEngineContext().settings.SetOption(kOptionLanguage, ""); }
    static void SetLanguage(const char* language) {
        GetEngineContext().settings.SetOption(kOptionLanguage, language);
    }
};

TEST_F(MessageTextsTest, EngineCodesFollowTheExactLanguageSetting) {
    struct Case {
        const char* language;
        const char* text;
    };
    const Case cases[] = {
        {"en", "The number of downloads of this link has reached a limit!"},
        {"EN", "该链接的下载次数已达到限制!"},
        {"cn", "该链接的下载次数已达到限制!"},
        {"", "该链接的下载次数已达到限制!"},
    };
    for (const Case& c : cases) {
        SetLanguage(c.language);
        EXPECT_EQ(GetErrorText(20107), c.text) << c.language;
    }
    SetLanguage("en");
    EXPECT_EQ(GetErrorText(20101), "need retry some parts");
    EXPECT_EQ(GetErrorText(20108), "Invalid file name from the server");
    EXPECT_EQ(GetErrorText(20109), "The server returned the wrong range");
    EXPECT_EQ(
        GetErrorText(20111),
        "The server's folder listing repeats itself or exceeds 1,000,000 items or 256 levels");
    EXPECT_EQ(GetErrorText(20112), "The file kept changing on the server while downloading");
    EXPECT_EQ(GetErrorText(20113),
              "The link's access expired and the link could not be opened again; add the link "
              "again");
    EXPECT_EQ(GetErrorText(65535), "multi errors!");
    SetLanguage("cn");
    EXPECT_EQ(GetErrorText(20102), "本地hash文件错误");
    EXPECT_EQ(GetErrorText(20105), "无法获取下载文件的大小!");
    EXPECT_EQ(GetErrorText(20113), "链接访问已过期，且无法重新打开链接，请重新添加链接");
    EXPECT_EQ(GetErrorText(65535), "多重错误，正在重试...");
}

TEST_F(MessageTextsTest, CodesWithoutText) {
    for (int code : {0, 20000, 20001, 20009, 20103, 20106, 20114, 65534, -1, 20000000}) {
        EXPECT_EQ(GetErrorText(code, "en"), "") << code;
        EXPECT_EQ(GetErrorText(code, "cn"), "") << code;
    }
}

TEST_F(MessageTextsTest, PlatformCodesUseTheMessageLanguage) {
    const std::pair<const char*, bool> languages[] = {
        {"en", true},  {"EN", true},  {"fr", true},     {"zh", false},
        {"ZH", false}, {"cn", false}, {"zh-CN", false}, {"zh-tw", true},
    };
    for (const auto& [language, english] : languages) {
        EXPECT_EQ(PlatformTextsInEnglish(language), english) << language;
        EXPECT_EQ(GetErrorText(platform_error::kAccessDenied, language),
                  PlatformErrorText(platform_error::kAccessDenied, english))
            << language;
    }
    EXPECT_FALSE(GetErrorText(platform_error::kTimeout, "cn").empty());
}

TEST_F(MessageTextsTest, EmptySettingFollowsTheUserLocale) {
    const std::pair<const char*, bool> locales[] = {
        {"zh_CN.UTF-8", false}, {"zh_TW.UTF-8", true}, {"en_US.UTF-8", true}, {"C", true}};
    for (const auto& [locale, english] : locales) {
        testing_support::ScopedEnv all("LC_ALL", locale);
        EXPECT_EQ(PlatformTextsInEnglish(""), english) << locale;
    }
    testing_support::ScopedEnv all("LC_ALL", std::nullopt);
    testing_support::ScopedEnv messages("LC_MESSAGES", std::nullopt);
    testing_support::ScopedEnv lang("LANG", "zh_CN.UTF-8");
    EXPECT_FALSE(PlatformTextsInEnglish(""));
}

TEST_F(MessageTextsTest, AbortTextOnlyForConnectionAborted) {
    EXPECT_EQ(GetAbortText(12030, "en"),
              "The network connecting is terminated. It will auto retry again later...");
    EXPECT_EQ(GetAbortText(12030, "cn"), "网络连接意外终止，稍后自动重试...");
    EXPECT_EQ(GetAbortText(12030, "En"), "网络连接意外终止，稍后自动重试...");
    for (int code : {0, 12002, 12029, 20107}) {
        EXPECT_EQ(GetAbortText(code, "en"), "") << code;
    }
    SetLanguage("en");
    EXPECT_EQ(GetAbortText(12030), GetAbortText(12030, "en"));
}

} // namespace
