// Placeholder until the listing lands.
#include "intake/link_listing.h"

QString AppendToken(const QString& metadataUrl, const QString&) {
    return metadataUrl;
}
void ListFolderPages(CEngineBridge&, const QString&, LinkItem&, BridgeStatus&) {}
void ListLinkTree(CEngineBridge&, const QString&, const QString&, const QString&, LinkItem&,
                  LinkItem&, BridgeStatus&) {}
CGetMetaAction::CGetMetaAction(CTovuTransMgr* mgr, const LinkItem& folder, QObject* receiver,
                               QString token)
    : m_bridge(mgr), m_token(std::move(token)), m_folder(folder.WithoutChildren()),
      m_receiver(receiver) {}
CGetMetaAction::~CGetMetaAction() {
    StopForDestruction();
}
void CGetMetaAction::Run(std::int32_t) {}
