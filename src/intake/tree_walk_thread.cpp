#include "intake/tree_walk_thread.h"

#include "intake/link_listing.h"

#include <memory>
#include <utility>

CTreeWalkThread::CTreeWalkThread(CTovuTransMgr* mgr, QString serviceAddress, QString deliveryCode,
                                 QString token, post_targets::Target receiver)
    : m_bridge(mgr), m_serviceAddress(std::move(serviceAddress)),
      m_deliveryCode(std::move(deliveryCode)), m_token(std::move(token)), m_receiver(receiver) {}

CTreeWalkThread::~CTreeWalkThread() {
    StopForDestruction();
}

void CTreeWalkThread::Run(std::int32_t) {
    auto result = std::make_unique<ListResult>();
    BridgeStatus status;
    ListLinkTree(m_bridge, m_serviceAddress, m_deliveryCode, m_token, result->folder,
                 result->allItems, status, StopFlag());
    // Only a closing dialog asks to stop: a cut-short walk must not pass for a whole one.
    if (IsStopRequested()) {
        return;
    }
    result->errorCode = status.code;
    result->errorMessage = status.message;
    post_targets::Post(m_receiver, std::make_unique<CListResultEvent>(std::move(result),
                                                                      /*fromTreeWalk=*/true));
}
