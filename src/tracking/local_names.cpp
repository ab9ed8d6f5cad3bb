#include "tracking/local_names.h"

#include <QFile>

#include <filesystem>
#include <limits>
#include <system_error>

namespace {

// A dangling symbolic link still occupies the name, so the link itself is tested.
bool PathTaken(const QString& path) {
    std::error_code error;
    const auto status =
        std::filesystem::symlink_status(QFile::encodeName(path).toStdString(), error);
    return std::filesystem::exists(status);
}

// Tries "`prefix` (N)`suffix`" from N = 1 upwards; empty when every N is taken.
QString FirstFreeNumbered(const QString& prefix, const QString& suffix,
                          const QSet<QString>& reserved) {
    for (int number = 1; number < std::numeric_limits<int>::max(); ++number) {
        // One-pass arg: a "%2" inside a name must stay as it is.
        QString candidate =
            QStringLiteral("%1 (%2)%3").arg(prefix, QString::number(number), suffix);
        if (!PathTaken(candidate) && !reserved.contains(candidate)) {
            return candidate;
        }
    }
    return {};
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
    if (!PathTaken(path) && !reserved.contains(path)) {
        return path;
    }
    if (isFolder) {
        return FirstFreeNumbered(path, QString(), reserved);
    }
    // A leading dot starts a hidden name, not an extension: ".profile" has none.
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype stemEnd = dot > 0 ? dot : name.size();
    return FirstFreeNumbered(folder + u'/' + name.left(stemEnd), name.mid(stemEnd), reserved);
}
