// Placeholder until the tracker lands.
#include "tracking/local_names.h"

bool IsPlainName(const QString&) {
    return false;
}
QString FreeLocalPath(const QString&, const QString&, bool) {
    return {};
}
