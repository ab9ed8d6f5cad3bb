// Placeholder until the listing lands.
#include "intake/link_item.h"

LinkItem LinkItem::WithoutChildren() const {
    LinkItem copy = *this;
    copy.children.clear();
    return copy;
}

QString LinkItem::Name() const {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

bool ParseListing(const QString&, LinkItem&) {
    return false;
}
