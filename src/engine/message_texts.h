#pragma once

#include <string>
#include <string_view>

// The engine's own result codes (the service's codes 20001 to 20009 and 20103 have no text).
namespace engine_code {
inline constexpr int kNeedRetryParts = 20101;
inline constexpr int kLocalHashError = 20102;
inline constexpr int kNoFileSize = 20105;
inline constexpr int kDownloadLimitReached = 20107;
inline constexpr int kInvalidNameFromServer = 20108;
inline constexpr int kWrongRangeFromServer = 20109;
inline constexpr int kDataFolderInUse = 20110; // another engine holds the data folder
inline constexpr int kEndlessListing = 20111;  // a folder walk repeats itself or has no end
// The file changed on the service while it was downloaded: it is fetched again from the start,
// and a sub-task whose file keeps changing fails with this code.
inline constexpr int kFileChangedOnServer = 20112;
// The link's access token expired and authenticating the link again with the password kept
// with the task was refused: only adding the link again can help.
inline constexpr int kLinkReopenRefused = 20113;
inline constexpr int kMultiErrors = 65535;
} // namespace engine_code

// Platform messages are English unless the language setting is "zh", "cn" or "zh-cn" in any
// letter case; with no setting, English unless the user's locale is Chinese (PRC).
bool PlatformTextsInEnglish(std::string_view language);
// The engine's own texts are English only for the setting "en", exactly.
bool EngineTextsInEnglish(std::string_view language);

// Message text of a code under the engine's language setting: empty for 0; platform text for
// 1 to 19,999; the engine's table for its own codes; empty for anything else.
std::string GetErrorText(int code);
std::string GetErrorText(int code, std::string_view language);

// The message of 20002 (a reply, listed item or key the service sent could not be used), in
// the platform texts' language.
std::string UnusableReplyText();

// The retry notice for a connection aborted by the network (12030); empty for other codes.
std::string GetAbortText(int code);
std::string GetAbortText(int code, std::string_view language);
