#pragma once

#include "intake/link_item.h"

#include <QString>

#include <array>
#include <optional>

// The selection dialog's decisions that are not wiring: what a row shows and where Up leads.

// A folder row's name: the item's path without the folder's own path and the slash after it
// ("/" has no slash after it). "/Root" at "/" is "Root"; "/Root/a.txt" at "/Root" is "a.txt".
QString RowName(const QString& folderPath, const QString& itemPath);

// The modified column: "2024-05-01T10:20:30+08:00" reads "2024-05-01 10:20:30". Empty when
// there is no "T" or no "+" after it.
QString ModifiedText(const QString& modified);

// Where Up leads from `currentPath`: nullopt without a slash (nowhere to go), "/" for the root
// level (the slash is the first character), otherwise the part before the last slash.
std::optional<QString> UpTarget(const QString& currentPath);

// Widths of the check box, name, size and modified columns for a list whose viewport is
// `viewportWidth` pixels wide: name and size a third each, modified the rest.
std::array<int, 4> ItemColumnWidths(int viewportWidth);

// A tree walk that has nothing to show: the root's own request failed (it has no children and
// the walk ended on an error) or the root was never read.
bool TreeWalkFailedAtRoot(const ListResult& result);
