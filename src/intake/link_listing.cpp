#include "intake/link_listing.h"

#include "tracking/local_names.h"
#include "tracking/post_targets.h"

#include "engine/folder_walk_guard.h"
#include "engine/message_texts.h"

#include <functional>

namespace {

QString FirstItemPath(const LinkItem& page) {
    return page.children.empty() ? QString() : page.children.front().path;
}

// A walk that repeats itself or has no end.
void SetEndless(BridgeStatus& status) {
    status.code = engine_code::kEndlessListing;
    status.message = QString::fromStdString(GetErrorText(engine_code::kEndlessListing));
}

// ListFolderPages with a way out between pages for a thread asked to stop.
void ListPagesUntil(CEngineBridge& bridge, const QString& metadataUrl, LinkItem& target,
                    BridgeStatus& status, const std::atomic<bool>* stop) {
    CFolderPages pages;
    std::int64_t offset = 0;
    for (;;) {
        const std::optional<QString> reply = bridge.GetJsonPage(metadataUrl, offset, status, stop);
        if (!reply) {
            return;
        }
        // A page that is no listing leaves `page` empty: a short page, the last one.
        LinkItem page;
        ParseListing(*reply, page);
        const auto count = static_cast<std::int64_t>(page.children.size());
        if (!pages.Accept(FirstItemPath(page).toStdString()) ||
            target.children.size() + page.children.size() > CFolderWalkGuard::kMaxItems) {
            SetEndless(status);
            return;
        }
        target.children.insert(target.children.end(),
                               std::make_move_iterator(page.children.begin()),
                               std::make_move_iterator(page.children.end()));
        if (count < kListingPageSize || (stop != nullptr && stop->load())) {
            return;
        }
        offset += count;
    }
}

class CTreeWalk {
public:
    CTreeWalk(CEngineBridge& bridge, const QString& serviceAddress, const QString& token,
              LinkItem& allItems, BridgeStatus& status, const std::atomic<bool>* stop)
        : m_bridge(bridge), m_serviceAddress(serviceAddress), m_token(token), m_allItems(allItems),
          m_status(status), m_stop(stop) {}

    void ListFolder(const QString& linkPath, LinkItem& folder, int depth = 0) {
        if (!m_guard.EnterFolder(linkPath.toStdString(), depth)) {
            End();
            return;
        }
        CFolderPages pages;
        LinkItem page;
        std::int64_t offset = 0;
        bool parsed = RequestPage(linkPath, offset, page);
        // A failed sub-folder leaves its status behind; the next page request here replaces it.
        while (parsed && m_status.code == 0 && !m_ended) {
            if (!pages.Accept(FirstItemPath(page).toStdString()) ||
                !m_guard.AddItems(page.children.size())) {
                End();
                break;
            }
            for (const LinkItem& child : page.children) {
                folder.children.push_back(child);
                m_allItems.children.push_back(child);
            }
            for (const LinkItem& child : page.children) {
                // A folder whose name is no plain name would be listed as its parent again (an
                // empty name) or somewhere else; it is listed but not entered.
                if (child.isFolder && IsPlainName(child.Name()) && !Stopped() && !m_ended) {
                    LinkItem below;
                    ListFolder(linkPath + u'/' + child.Name(), below, depth + 1);
                }
            }
            const auto count = static_cast<std::int64_t>(page.children.size());
            if (count < kListingPageSize || Stopped() || m_ended) {
                break;
            }
            offset += count;
            parsed = RequestPage(linkPath, offset, page);
        }
        LinkItem members = page.WithoutChildren();
        members.children = std::move(folder.children);
        folder = std::move(members);
    }

private:
    bool Stopped() const { return m_stop != nullptr && m_stop->load(); }

    // The walk repeats itself or has no end: it stops with what it found, and the status says
    // so whatever requests follow.
    void End() {
        m_ended = true;
        SetEndless(m_status);
    }

    // Sets the shared status either way; false when the request failed or the page is no listing
    // (`page` then keeps the previous page).
    bool RequestPage(const QString& linkPath, std::int64_t offset, LinkItem& page) {
        const std::optional<QString> reply = m_bridge.GetDeliveryMetadata(
            m_serviceAddress, linkPath, m_token, offset, m_status, m_stop);
        if (!reply) {
            return false;
        }
        m_status = BridgeStatus();
        return ParseListing(*reply, page);
    }

    CEngineBridge& m_bridge;
    const QString& m_serviceAddress;
    const QString& m_token;
    LinkItem& m_allItems;
    BridgeStatus& m_status;
    const std::atomic<bool>* m_stop;
    CFolderWalkGuard m_guard;
    bool m_ended = false;
};

} // namespace

QString AppendToken(const QString& metadataUrl, const QString& token) {
    if (token.isEmpty() || metadataUrl.contains(QLatin1String("token="))) {
        return metadataUrl;
    }
    const QLatin1String joint(metadataUrl.contains(u'?') ? "&token=" : "?token=");
    return metadataUrl + joint + token;
}

void ListFolderPages(CEngineBridge& bridge, const QString& metadataUrl, LinkItem& target,
                     BridgeStatus& status) {
    ListPagesUntil(bridge, metadataUrl, target, status, nullptr);
}

void ListLinkTree(CEngineBridge& bridge, const QString& serviceAddress, const QString& deliveryCode,
                  const QString& token, LinkItem& root, LinkItem& allItems, BridgeStatus& status,
                  const std::atomic<bool>* stop) {
    root = LinkItem();
    CTreeWalk(bridge, serviceAddress, token, allItems, status, stop).ListFolder(deliveryCode, root);
}

CGetMetaAction::CGetMetaAction(CTovuTransMgr* mgr, const LinkItem& folder, QObject* receiver,
                               QString token)
    : m_bridge(mgr), m_token(std::move(token)), m_metadataUrl(folder.metadataUrl),
      m_folder(folder.WithoutChildren()), m_receiver(post_targets::Current(receiver)) {}

CGetMetaAction::~CGetMetaAction() {
    StopForDestruction();
}

void CGetMetaAction::Run(std::int32_t) {
    auto result = std::make_unique<ListResult>();
    result->folder = m_folder;
    BridgeStatus status;
    if (!m_metadataUrl.isEmpty()) {
        ListPagesUntil(m_bridge, AppendToken(m_metadataUrl, m_token), result->folder, status,
                       StopFlag());
    } else {
        m_bridge.GetDeliveryMetadata(m_serviceAddress, m_linkPath, m_token, 0, status, StopFlag());
    }
    // Asked to stop (the pool is shutting down): a cut-short listing must not pass for a whole one.
    if (IsStopRequested()) {
        return;
    }
    result->errorCode = status.code;
    result->errorMessage = status.message;
    post_targets::Post(
        m_receiver, std::make_unique<CListResultEvent>(std::move(result), /*fromTreeWalk=*/false));
}
