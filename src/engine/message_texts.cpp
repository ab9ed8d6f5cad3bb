#include "engine/message_texts.h"

#include "engine/ascii_text.h"
#include "engine/bilingual_text.h"
#include "engine/engine_context.h"
#include "engine/platform_error.h"

#include <cstdlib>

namespace {

constexpr BilingualText kEngineTexts[] = {
    {engine_code::kNeedRetryParts, "need retry some parts", "某些数据包错误，需重传..."},
    {engine_code::kLocalHashError, "local hash error!", "本地hash文件错误"},
    {engine_code::kNoFileSize, "Unable to get the download file size!", "无法获取下载文件的大小!"},
    {engine_code::kDownloadLimitReached,
     "The number of downloads of this link has reached a limit!", "该链接的下载次数已达到限制!"},
    {engine_code::kInvalidNameFromServer, "Invalid file name from the server",
     "服务器返回的文件名无效"},
    {engine_code::kWrongRangeFromServer, "The server returned the wrong range",
     "服务器返回的数据范围错误"},
    {engine_code::kDataFolderInUse, "Another copy of the program is already using this data folder",
     "另一个程序实例正在使用此数据文件夹"},
    {engine_code::kEndlessListing,
     "The server's folder listing repeats itself or exceeds 1,000,000 items or 256 levels",
     "服务器返回的文件夹列表重复，或超过 1,000,000 项或 256 层"},
    {engine_code::kFileChangedOnServer, "The file kept changing on the server while downloading",
     "下载期间服务器上的文件不断变化"},
    {engine_code::kLinkReopenRefused,
     "The link's access expired and the link could not be opened again; add the link again",
     "链接访问已过期，且无法重新打开链接，请重新添加链接"},
    {engine_code::kMultiErrors, "multi errors!", "多重错误，正在重试..."},
};

constexpr int kLastPlatformCode = 19999;

// The user's locale: the first of LC_ALL, LC_MESSAGES and LANG that is set.
bool LocaleIsChinesePrc() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            const std::string lower = AsciiLower(value);
            return lower.rfind("zh_cn", 0) == 0 || lower.rfind("zh-cn", 0) == 0;
        }
    }
    return false;
}

std::string CurrentLanguage() {
    return GetEngineContext().settings.Language();
}

} // namespace

bool PlatformTextsInEnglish(std::string_view language) {
    if (language.empty()) {
        return !LocaleIsChinesePrc();
    }
    const std::string lower = AsciiLower(language);
    return lower != "zh" && lower != "cn" && lower != "zh-cn";
}

bool EngineTextsInEnglish(std::string_view language) {
    return language == "en";
}

std::string GetErrorText(int code) {
    return GetErrorText(code, CurrentLanguage());
}

std::string GetErrorText(int code, std::string_view language) {
    if (code >= 1 && code <= kLastPlatformCode) {
        return PlatformErrorText(code, PlatformTextsInEnglish(language));
    }
    const BilingualText* row = FindBilingualText(kEngineTexts, code);
    return row != nullptr ? row->In(EngineTextsInEnglish(language)) : std::string();
}

std::string GetAbortText(int code) {
    return GetAbortText(code, CurrentLanguage());
}

std::string GetAbortText(int code, std::string_view language) {
    if (code != platform_error::kConnectionAborted) {
        return {};
    }
    return EngineTextsInEnglish(language)
               ? "The network connecting is terminated. It will auto retry again later..."
               : "网络连接意外终止，稍后自动重试...";
}

std::string UnusableReplyText() {
    return PlatformTextsInEnglish(CurrentLanguage()) ? "The service's reply could not be read"
                                                     : "无法读取服务的回复";
}
