#include "cli/link_selection.h"

#include <algorithm>

namespace {

const LinkItem* FindByPath(const LinkItem& root, const LinkItem& allItems, const QString& path) {
    if (root.path == path) {
        return &root;
    }
    for (const LinkItem& item : allItems.children) {
        if (item.path == path) {
            return &item;
        }
    }
    return nullptr;
}

} // namespace

bool SelectLinkItems(const LinkItem& root, const LinkItem& allItems, const QStringList& paths,
                     std::vector<LinkItem>& picked, QString& unknown) {
    picked.clear();
    if (paths.isEmpty()) {
        picked.push_back(root.WithoutChildren());
        return true;
    }
    for (const QString& given : paths) {
        QString path = given;
        while (path.size() > 1 && path.endsWith(u'/')) {
            path.chop(1);
        }
        const QString absolute = path.startsWith(u'/') ? path : u'/' + path;
        const LinkItem* item = FindByPath(root, allItems, absolute);
        if (item == nullptr && !path.startsWith(u'/')) {
            item = FindByPath(root, allItems, root.path + u'/' + path);
        }
        if (item == nullptr) {
            unknown = given;
            return false;
        }
        const bool already = std::any_of(picked.begin(), picked.end(), [item](const LinkItem& p) {
            return p.path == item->path;
        });
        if (!already) {
            picked.push_back(item->WithoutChildren());
        }
    }
    return true;
}
