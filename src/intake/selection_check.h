#pragma once

#include "intake/link_item.h"

#include <QString>

#include <vector>

enum class SelectionFocus { kNone, kItemList, kSaveFolder };

struct SelectionCheck {
    bool accepted = false;
    QString message; // empty when accepted
    SelectionFocus focus = SelectionFocus::kNone;
};

// Whether any picked item, or any item below a picked folder (a plain prefix of its path among
// `allItems`' children), is a converted document or a watermarked copy, which this tool cannot
// download.
bool SelectionHasOuterChain(const std::vector<LinkItem>& picked, const LinkItem& allItems);

// The selection dialog's OK, in order: refused items (text 28), nothing picked (text 36), an
// empty save folder (text 37), then the save folder is created with every missing level
// (text 38 with the error number and the path on failure, also when a file is in its way).
// When accepted, the save folder is remembered ("SavePath").
SelectionCheck ConfirmSelection(const std::vector<LinkItem>& picked, const LinkItem& allItems,
                                const QString& saveFolder);
