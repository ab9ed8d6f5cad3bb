// Placeholder until the selection check lands.
#include "intake/selection_check.h"

bool SelectionHasOuterChain(const std::vector<LinkItem>&, const LinkItem&) {
    return false;
}
SelectionCheck ConfirmSelection(const std::vector<LinkItem>&, const LinkItem&, const QString&) {
    return {};
}
