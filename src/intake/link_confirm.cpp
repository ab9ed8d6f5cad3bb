// Placeholder until the confirm sequence lands.
#include "intake/link_confirm.h"

LinkParts SplitLinkAddress(const QString&) {
    return {};
}
LinkConfirmResult ConfirmLink(CEngineBridge*, const QString&, const QString&) {
    return {};
}
