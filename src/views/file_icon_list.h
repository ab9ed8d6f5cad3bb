#pragma once

#include <QIcon>
#include <QString>

#include <map>
#include <vector>

// The process-wide list of 32 × 32 file-type icons that the item lists draw from, with the
// cache that maps a file-type key to its index. Icons are only ever appended. Window thread only.
class FileIconList {
public:
    static constexpr int kIconSize = 32;

    // The process's list, created on first use.
    static FileIconList& Instance();
    // Start-up creates the list first; shutdown drops it last. Both are idempotent.
    static void Create();
    static void Destroy();

    // The index for a file of this name (by its extension), or for a folder; looked up once
    // per key from the platform's icon theme. An index whose icon the theme lacked is kept
    // too and draws nothing.
    int IndexFor(const QString& name, bool isFolder);
    // The icon at `index`; a null icon for -1 or an index the list does not hold.
    QIcon Icon(int index) const;
    int Count() const { return static_cast<int>(m_icons.size()); }

private:
    std::vector<QIcon> m_icons;
    std::map<QString, int> m_indexByKey;
};

// The cache key of a name: "folder" for folders, else the lower-cased extension with its dot
// (from the last "."), empty for a name without one.
QString FileIconKey(const QString& name, bool isFolder);
