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

// The command-line front end's own texts.
inline constexpr int kCliUnknownItem = 47;
inline constexpr int kCliInvalidName = 48;
inline constexpr int kCliTaskFailed = 49;
inline constexpr int kCliAllDone = 50;
inline constexpr int kCliNoTasks = 51;
inline constexpr int kCliUnknownTask = 52;
inline constexpr int kCliTaskNotAdded = 53;
inline constexpr int kCliListing = 54;
inline constexpr int kCliPreparing = 55;
inline constexpr int kCliInterrupted = 56;
inline constexpr int kCliUsage = 57;
inline constexpr int kCliPasswordNeeded = 58;
inline constexpr int kCliAdded = 59;
inline constexpr int kCliPaused = 60;
inline constexpr int kCliRemoved = 61;
inline constexpr int kCliSummary = 62;
inline constexpr int kDataFolderInUse = 63;
inline constexpr int kCliUnknownArgument = 64;
inline constexpr int kCliMissingValue = 65;
inline constexpr int kCliMissingLink = 66;
inline constexpr int kCliMissingTaskId = 67;
inline constexpr int kCliBadLanguage = 68;
inline constexpr int kCliSeeHelp = 69;
inline constexpr int kCliMissingCommand = 70;
inline constexpr int kCliUnknownCommand = 71;
inline constexpr int kCliEngineSlow = 72;

} // namespace lang_text

// The text `number` in the current language (1 Chinese, anything else English); empty for a
// number the table does not hold.
QString GetLangText(int number);
// The same in the language `languageIndex`.
QString GetLangText(int number, int languageIndex);

// A format text of the table filled printf-style: "%s" takes UTF-8 (QString::toUtf8), "%d" an
// int.
template <typename... Args>
QString LangFormat(int number, Args... args) {
    // The formats are the table's own constants, each checked by the tests with its arguments.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return QString::asprintf(GetLangText(number).toUtf8().constData(), args...);
#pragma GCC diagnostic pop
}

// How the front end shows a failed request: "%s(%d)" with the message, or text 3 when the
// message is empty, and the code.
QString ErrorMessageText(const QString& message, int code);
