#pragma once

#include "intake/link_item.h"

#include <QString>
#include <QStringList>

#include <vector>

// The items `paths` name in a listed link: a path as `list` prints it ("/Root/a/b.txt"), with
// or without its leading "/", or relative to the link's own item ("a/b.txt"). No paths: the
// link's own item. `unknown` gets the first path the link does not have.
bool SelectLinkItems(const LinkItem& root, const LinkItem& allItems, const QStringList& paths,
                     std::vector<LinkItem>& picked, QString& unknown);
