#include "views/file_icon_list.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QStyle>

#include <memory>

namespace {

std::unique_ptr<FileIconList>& Holder() {
    static std::unique_ptr<FileIconList> list;
    return list;
}

QIcon LookUpIcon(const QString& key, bool isFolder) {
    QFileIconProvider provider;
    if (isFolder) {
        return provider.icon(QFileIconProvider::Folder);
    }
    // By name only: the file does not exist, so the type comes from the extension.
    QIcon icon = provider.icon(QFileInfo(QStringLiteral("file") + key));
    // Without an icon theme the type is unknown: a plain document icon still marks the row.
    if (icon.isNull() && QApplication::style()) {
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    }
    return icon;
}

} // namespace

FileIconList& FileIconList::Instance() {
    Create();
    return *Holder();
}

void FileIconList::Create() {
    if (!Holder()) {
        Holder() = std::make_unique<FileIconList>();
    }
}

void FileIconList::Destroy() {
    Holder().reset();
}

int FileIconList::IndexFor(const QString& name, bool isFolder) {
    const QString key = FileIconKey(name, isFolder);
    if (auto found = m_indexByKey.find(key); found != m_indexByKey.end()) {
        return found->second;
    }
    m_icons.push_back(LookUpIcon(key, isFolder));
    const int index = Count() - 1;
    m_indexByKey.emplace(key, index);
    return index;
}

QIcon FileIconList::Icon(int index) const {
    if (index < 0 || index >= Count()) {
        return {};
    }
    return m_icons[static_cast<std::size_t>(index)];
}

QString FileIconKey(const QString& name, bool isFolder) {
    if (isFolder) {
        return QStringLiteral("folder");
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot).toLower();
}
