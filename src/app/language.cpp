#include "app/language.h"

#include "app/settings.h"

#include <QLocale>
#include <atomic>

namespace {

// Written on the window thread only; other threads read it.
std::atomic<int> g_languageIndex{kLanguageEnglish};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

int LanguageIndexFromCode(std::string_view code) {
    return (EqualsIgnoreCase(code, "cn") || EqualsIgnoreCase(code, "zh")) ? kLanguageChinese
                                                                          : kLanguageEnglish;
}

void ApplyLanguage(int index) {
    const int effective = index == kLanguageChinese ? kLanguageChinese : kLanguageEnglish;
    g_languageIndex.store(effective);
    QLocale::setDefault(effective == kLanguageChinese
                            ? QLocale(QLocale::Chinese, QLocale::China)
                            : QLocale(QLocale::English, QLocale::UnitedStates));
}

int GetLanguageIndex() {
    return g_languageIndex.load();
}

std::uint16_t GetLanguageId() {
    return GetLanguageIndex() == kLanguageChinese ? kLanguageIdChinese : kLanguageIdEnglish;
}

std::string GetLanguageCode() {
    return GetLanguageIndex() == kLanguageChinese ? "cn" : "en";
}

void ApplyStartupLanguage() {
    ApplyLanguage(LanguageIndexFromCode(ReadSetting(kSettingLanguage, "zh")));
}

void SwitchLanguage(int index) {
    ApplyLanguage(index);
    WriteSetting(kSettingLanguage, GetLanguageCode());
}
