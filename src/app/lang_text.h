#pragma once

#include <QString>

// Interface texts by number, in the current language (Part of the application shell). Numbers
// 0 to 46 are the windows' texts; the command-line front end's own texts follow them.
namespace lang_text {
inline constexpr int kOk = 0;
inline constexpr int kCancel = 1;
inline constexpr int kTips = 2;
inline constexpr int kInternalError = 3;
inline constexpr int kEnterLinkAddress = 27;
inline constexpr int kOuterChainRefused = 28;
inline constexpr int kSelectFiles = 36;
inline constexpr int kSelectSavePath = 37;
inline constexpr int kCreateSavePathFailed = 38;
inline constexpr int kInvalidLink = 43;
inline constexpr int kLoginOnlyLink = 45;
inline constexpr int kLoading = 46;

} // namespace lang_text

// The text `number` in the current language (1 Chinese, anything else English); empty for a
// number the table does not hold.
QString GetLangText(int number);
// The same in the language `languageIndex`.
QString GetLangText(int number, int languageIndex);

// How the front end shows a failed request: "%s(%d)" with the message, or text 3 when the
// message is empty, and the code.
QString ErrorMessageText(const QString& message, int code);
