#pragma once

#include <string>

// Keys of the settings file Parvex.xml.
inline constexpr char kSettingLanguage[] = "Language";
inline constexpr char kSettingDeliveryUrl[] = "DeliveryUrl";
inline constexpr char kSettingSavePath[] = "SavePath";

// Every call opens the file afresh, so a value written anywhere is seen by the next read.

// The text of <Parvex><key>; `defaultValue` when the file, the root or the key is missing or
// the file does not parse. An empty element yields the empty string.
std::string ReadSetting(const std::string& key, const std::string& defaultValue);

// Sets <Parvex><key> (appending what is missing, keeping every other element) and saves the
// file, tab-indented UTF-8. The file is replaced atomically, so a failed save leaves the old
// one intact. Returns false when the value could not be saved; callers may ignore it.
bool WriteSetting(const std::string& key, const std::string& value);
