#pragma once

#include "app/engine_bridge.h"
#include "engine/parvex_thread.h"
#include "intake/link_item.h"
#include "tracking/front_events.h"
#include "tracking/post_targets.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// Children per listing page; a shorter page is the last one.
inline constexpr int kListingPageSize = 100;

// The metadata URL with the access token: "&token=" or "?token=" appended unless the token is
// empty or the URL already holds "token=".
QString AppendToken(const QString& metadataUrl, const QString& token);

// Appends every child of the folder behind `metadataUrl` to `target`, page by page. A failed
// request stores its code and message in `status` and ends the listing; a page that is not
// JSON ends it too. A page that repeats the previous one, or more children than a walk may
// hold, end it with engine_code::kEndlessListing.
void ListFolderPages(CEngineBridge& bridge, const QString& metadataUrl, LinkItem& target,
                     BridgeStatus& status);

// Lists the whole link depth first: `root` gets the link's own item with its direct children,
// `allItems` every item of every depth (as its children, depth-first order). One status serves
// the walk: each request sets it, a failure ends its own folder only, and the status after the
// walk is that of the last request. `stop`, when given, ends the walk with what it found, a
// request in flight included. Folders whose name is not a plain name are not entered. A walk
// that repeats itself (a page served again, a folder listed twice) or has no end (the ceilings
// of CFolderWalkGuard) ends with engine_code::kEndlessListing as its status.
void ListLinkTree(CEngineBridge& bridge, const QString& serviceAddress, const QString& deliveryCode,
                  const QString& token, LinkItem& root, LinkItem& allItems, BridgeStatus& status,
                  const std::atomic<bool>* stop = nullptr);

// The event that carries a listing to its receiver; the event owns the result until the
// receiver takes it. `fromTreeWalk` tells a tree walk's result from a folder action's.
class CListResultEvent : public QEvent {
public:
    CListResultEvent(std::unique_ptr<ListResult> result, bool fromTreeWalk)
        : QEvent(FrontEventType(kMsgListResult)), m_result(std::move(result)),
          m_fromTreeWalk(fromTreeWalk) {}

    const ListResult& Result() const { return *m_result; }
    std::unique_ptr<ListResult> TakeResult() { return std::move(m_result); }
    bool FromTreeWalk() const { return m_fromTreeWalk; }

private:
    std::unique_ptr<ListResult> m_result;
    bool m_fromTreeWalk;
};

// Lists one folder on the bridge's thread pool and posts the result to its receiver (freed
// when the receiver is gone by then). The receiver registers with post_targets before the
// action is made.
class CGetMetaAction : public CParvexThread {
public:
    // Over the transfer manager itself, which outlives every thread: an action the pool had
    // to abandon at shutdown never touches a destroyed bridge.
    CGetMetaAction(CTovuTransMgr* mgr, const LinkItem& folder, QObject* receiver, QString token);
    ~CGetMetaAction() override;

protected:
    void Run(std::int32_t param) override;

private:
    CEngineBridge m_bridge;   // over the action's transfer manager; its pool is never started
    QString m_serviceAddress; // empty when started for a folder
    QString m_linkPath;       // empty when started for a folder
    QString m_token;
    QString m_metadataUrl;
    LinkItem m_folder;               // without children
    post_targets::Target m_receiver; // the registration current when the action was made
};
