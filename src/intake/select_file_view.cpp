#include "intake/select_file_view.h"

#include <algorithm>

namespace {

constexpr int kCheckColumnWidth = 30;

} // namespace

QString RowName(const QString& folderPath, const QString& itemPath) {
    const qsizetype prefix = folderPath.size() + (folderPath == QLatin1String("/") ? 0 : 1);
    return itemPath.mid(prefix);
}

QString ModifiedText(const QString& modified) {
    const qsizetype t = modified.indexOf(u'T');
    if (t < 0) {
        return {};
    }
    const qsizetype plus = modified.indexOf(u'+', t + 1);
    if (plus < 0) {
        return {};
    }
    return modified.left(t) + u' ' + modified.mid(t + 1, plus - t - 1);
}

std::optional<QString> UpTarget(const QString& currentPath) {
    const qsizetype slash = currentPath.lastIndexOf(u'/');
    if (slash < 0) {
        return std::nullopt;
    }
    if (slash == 0) {
        return QStringLiteral("/");
    }
    return currentPath.left(slash);
}

std::array<int, 4> ItemColumnWidths(int viewportWidth) {
    const int third = viewportWidth * 20 / 60;
    // The 2 spare pixels keep a horizontal scroll bar away.
    const int rest = viewportWidth - kCheckColumnWidth - 2 * third - 2;
    return {kCheckColumnWidth, third, third, std::max(rest, 0)};
}

bool TreeWalkFailedAtRoot(const ListResult& result) {
    return result.folder.path.isEmpty() ||
           (result.errorCode != 0 && result.folder.children.empty());
}
