#pragma once

#include "app/engine_bridge.h"
#include "engine/parvex_thread.h"
#include "tracking/post_targets.h"

#include <QString>

class CTovuTransMgr;

// Lists a whole link in the background and posts the result to its receiver as a tree walk's
// CListResultEvent. It works over the transfer manager itself, which outlives every thread, and
// on copies of the link's values: a walk its dialog had to give up on never touches the dialog
// or a destroyed bridge. A walk asked to stop ends between requests and posts nothing.
class CTreeWalkThread : public CParvexThread {
public:
    CTreeWalkThread(CTovuTransMgr* mgr, QString serviceAddress, QString deliveryCode, QString token,
                    post_targets::Target receiver);
    ~CTreeWalkThread() override;

protected:
    void Run(std::int32_t param) override;

private:
    CEngineBridge m_bridge; // its pool is never started
    QString m_serviceAddress;
    QString m_deliveryCode;
    QString m_token;
    post_targets::Target m_receiver;
};
