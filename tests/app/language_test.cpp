#include "app/data_folders.h"
#include "app/language.h"
#include "app/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QLocale>

using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class Language : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"PARVEX_HOME", dir.Path()};
};

void ExpectChinese(bool chinese) {
    EXPECT_EQ(GetLanguageIndex(), chinese ? kLanguageChinese : kLanguageEnglish);
    EXPECT_EQ(GetLanguageId(), chinese ? 2052 : 1033);
    EXPECT_EQ(GetLanguageCode(), chinese ? "cn" : "en");
    EXPECT_EQ(QLocale().language(), chinese ? QLocale::Chinese : QLocale::English);
}

} // namespace

TEST_F(Language, TheStoredCodeSelectsTheStartupLanguage) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"cn", true},  {"zh", true},  {"ZH", true}, {"Cn", true},   {"zh-CN", false},
        {"en", false}, {"xx", false}, {"", false},  {" cn", false},
    };
    for (const auto& [code, chinese] : cases) {
        SCOPED_TRACE("Language=\"" + code + "\"");
        WriteFile(GetSettingsFilePath(), "<Parvex><Language>" + code + "</Language></Parvex>");
        ApplyLanguage(chinese ? kLanguageEnglish : kLanguageChinese); // start from the other one
        ApplyStartupLanguage();
        ExpectChinese(chinese);
    }
}

TEST_F(Language, AFreshInstallationStartsInChinese) {
    ApplyLanguage(kLanguageEnglish);
    ApplyStartupLanguage();
    ExpectChinese(true);
}

TEST_F(Language, SwitchingIsRememberedForTheNextStart) {
    ApplyStartupLanguage();
    SwitchLanguage(kLanguageEnglish);
    ExpectChinese(false);
    EXPECT_EQ(ReadSetting(kSettingLanguage, ""), "en");

    SwitchLanguage(kLanguageChinese);
    EXPECT_NE(ReadFile(GetSettingsFilePath()).find("<Language>cn</Language>"), std::string::npos);

    ApplyLanguage(kLanguageEnglish);
    ApplyStartupLanguage(); // the next start
    ExpectChinese(true);

    ApplyLanguage(7); // anything but 1 is English
    ExpectChinese(false);
}
