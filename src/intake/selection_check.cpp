#include "intake/selection_check.h"

#include "app/lang_text.h"
#include "app/settings.h"
#include "engine/platform_error.h"

#include <QByteArray>

#include <filesystem>
#include <system_error>

namespace {

// Converted documents and watermarked copies are only offered through the service's pages.
bool IsOuterChain(const LinkItem& item) {
    return !item.convertedUrl.isEmpty() || !item.watermarkUrl.isEmpty();
}

SelectionCheck Refused(const QString& message, SelectionFocus focus) {
    SelectionCheck check;
    check.message = message;
    check.focus = focus;
    return check;
}

// 0 when `folder` is a folder afterwards, else the platform number of why not. A file in the
// way is refused: downloading into it would fail on every item later.
int MakeSaveFolder(const QString& folder) {
    namespace fs = std::filesystem;
    const QByteArray utf8 = folder.toUtf8();
    const fs::path path(utf8.toStdString());
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (fs::exists(status)) {
        return fs::is_directory(status) ? 0 : platform_error::kAlreadyExists;
    }
    fs::create_directories(path, error);
    if (!error) {
        return 0;
    }
    const int code = MapErrno(error.value());
    // Another process may have made it meanwhile; a file named so has to be refused still.
    if (code == platform_error::kAlreadyExists && fs::is_directory(path, error)) {
        return 0;
    }
    return code != 0 ? code : platform_error::kGeneralFailure;
}

// Text 38 has "%d" for the number, then "%s" for the path; the path is put in last, so a "%"
// in it stays as typed.
QString CreateFailedText(int code, const QString& folder) {
    QString text = GetLangText(lang_text::kCreateSavePathFailed);
    text.replace(QLatin1String("%d"), QString::number(code));
    const qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at >= 0) {
        text.replace(at, 2, folder);
    }
    return text;
}

} // namespace

bool SelectionHasOuterChain(const std::vector<LinkItem>& picked, const LinkItem& allItems) {
    for (const LinkItem& item : picked) {
        if (IsOuterChain(item)) {
            return true;
        }
        if (!item.isFolder) {
            continue;
        }
        for (const LinkItem& entry : allItems.children) {
            if (entry.path.startsWith(item.path) && IsOuterChain(entry)) {
                return true;
            }
        }
    }
    return false;
}

SelectionCheck ConfirmSelection(const std::vector<LinkItem>& picked, const LinkItem& allItems,
                                const QString& saveFolder) {
    if (SelectionHasOuterChain(picked, allItems)) {
        return Refused(GetLangText(lang_text::kOuterChainRefused), SelectionFocus::kNone);
    }
    if (picked.empty()) {
        return Refused(GetLangText(lang_text::kSelectFiles), SelectionFocus::kItemList);
    }
    if (saveFolder.isEmpty()) {
        return Refused(GetLangText(lang_text::kSelectSavePath), SelectionFocus::kSaveFolder);
    }
    if (const int code = MakeSaveFolder(saveFolder); code != 0) {
        return Refused(CreateFailedText(code, saveFolder), SelectionFocus::kSaveFolder);
    }
    WriteSetting(kSettingSavePath, saveFolder.toStdString());
    SelectionCheck check;
    check.accepted = true;
    return check;
}
