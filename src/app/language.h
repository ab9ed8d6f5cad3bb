#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kLanguageEnglish = 0;
inline constexpr int kLanguageChinese = 1;
inline constexpr std::uint16_t kLanguageIdEnglish = 1033; // English (United States)
inline constexpr std::uint16_t kLanguageIdChinese = 2052; // Chinese (PRC)

// The language a stored code selects: "cn" or "zh" in any case is Chinese, anything else
// (including "zh-CN" and the empty text) English.
int LanguageIndexFromCode(std::string_view code);

// Makes `index` the current language (any value other than 1 counts as English) and the
// application's default locale, so texts formatted by Qt follow it too.
void ApplyLanguage(int index);

int GetLanguageIndex();
std::uint16_t GetLanguageId();

// "cn" for Chinese, "en" otherwise: the form handed to the engine and stored in the settings.
std::string GetLanguageCode();

// Start-up: the language stored in the settings (default "zh") becomes the current one.
void ApplyStartupLanguage();

// Run-time switch from the language selector: apply it and remember it in the settings.
void SwitchLanguage(int index);
