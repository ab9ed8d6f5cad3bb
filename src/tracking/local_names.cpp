#include "tracking/local_names.h"

#include "engine/local_name.h"

#include <QFile>

#include <filesystem>
#include <system_error>

namespace {

// A dangling symbolic link still occupies the name, so the link itself is tested.
bool EntryExists(const QString& path) {
    std::error_code error;
    const auto status =
        std::filesystem::symlink_status(QFile::encodeName(path).toStdString(), error);
    return std::filesystem::exists(status);
}

// A name and its temporary name are one: either on the disk takes both.
bool PathTaken(const QString& path, const QSet<QString>& reserved) {
    const QString temp = path + QString::fromUtf8(kTempSuffix.data(), kTempSuffix.size());
    return EntryExists(path) || EntryExists(temp) || reserved.contains(path);
}

} // namespace

bool IsPlainName(const QString& name) {
    if (name.isEmpty() || name == u"." || name == u"..") {
        return false;
    }
    return !name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(u'\0'));
}

QString FreeLocalPath(const QString& servicePath, const QString& saveFolder, bool isFolder,
                      const QSet<QString>& reserved) {
    if (servicePath.isEmpty() || saveFolder.isEmpty()) {
        return {};
    }
    const QString name = servicePath.mid(servicePath.lastIndexOf(u'/') + 1);
    // A folder picked with a trailing "/" must not turn the separator into "//".
    const QString folder = saveFolder.endsWith(u'/') ? saveFolder.chopped(1) : saveFolder;
    const QString path = folder + u'/' + name;
    if (!HasTempSuffix(name.toStdString()) && !PathTaken(path, reserved)) {
        return path;
    }
    for (int number = 1; number <= kMaxNameNumber; ++number) {
        const QString candidate =
            folder + u'/' +
            QString::fromStdString(NumberedName(name.toStdString(), number, isFolder));
        if (!PathTaken(candidate, reserved)) {
            return candidate;
        }
    }
    return {};
}
