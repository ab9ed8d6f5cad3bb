#pragma once

#include <QSet>
#include <QString>

// Whether a name taken from the service can name a file or folder inside the save folder: one
// segment, not empty, not "." or "..", without "/", "\" or NUL.
bool IsPlainName(const QString& name);

// A free local path in `saveFolder` for the item at `servicePath`: the item's name when nothing
// exists there, else "name (N)" for a folder and "stem (N).ext" for a file, with the lowest
// free N from 1. A name and its temporary name ("<name>.tovutmp") are taken together, and a
// name that ends in that suffix is always numbered. Paths in `reserved` count as taken too
// (those chosen earlier in one batch).
// Empty when the service path or the save folder is empty.
QString FreeLocalPath(const QString& servicePath, const QString& saveFolder, bool isFolder,
                      const QSet<QString>& reserved = {});
