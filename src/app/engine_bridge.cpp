#include "app/engine_bridge.h"

#include "app/app_log.h"
#include "app/data_folders.h"
#include "app/language.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "intake/link_listing.h"
#include "log/sync_my_log.h"

#include <QByteArray>

namespace {

constexpr char kIdSeparator[] = "201906122104";

CEngineBridge* g_instance = nullptr;

// Engine lines keep their own text: a "%" in a URL must not be read as a format.
void ForwardEngineLog(int level, const char* text) {
    CSyncMyLog* log = GetAppLog();
    if (log == nullptr || text == nullptr) {
        return;
    }
    if (level == 0) {
        log->InfoFormat("%s", text);
    } else {
        log->Error(text);
    }
}

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

} // namespace

CEngineBridge::CEngineBridge(CTovuTransMgr* mgr) : m_mgr(mgr) {}

CEngineBridge::~CEngineBridge() = default;

CEngineBridge* CEngineBridge::Instance() {
    if (g_instance == nullptr) {
        auto* bridge = new CEngineBridge(GetTransMgr());
        bridge->m_pool.Clear();
        bridge->m_pool.Start(0);
        g_instance = bridge;
    }
    return g_instance;
}

void CEngineBridge::Shutdown() {
    CEngineBridge* bridge = g_instance;
    if (bridge == nullptr) {
        return;
    }
    // Actions first: asked to stop before the engine cancels the requests they wait in, they
    // end without posting a cut-short result.
    bridge->m_pool.RequestStopAll();
    if (bridge->m_mgr != nullptr) {
        bridge->m_mgr->ShutdownEngine();
        bridge->m_mgr = nullptr;
    }
    g_instance = nullptr;
    delete bridge;
}

int CEngineBridge::Start() {
    if (m_mgr == nullptr) {
        return 0;
    }
    m_mgr->SetOption(kOptionLanguage, GetLanguageCode().c_str());
    m_mgr->SetOption(kOptionDataFolder, GetAppDataFolder().c_str());
    m_mgr->SetLogHook(&ForwardEngineLog);
    return m_mgr->StartEngine();
}

void CEngineBridge::SetEngineLanguage() {
    if (m_mgr != nullptr) {
        m_mgr->SetOption(kOptionLanguage, GetLanguageCode().c_str());
    }
}

QString CEngineBridge::Take(char* text) {
    if (text == nullptr) {
        return {};
    }
    QString copy = QString::fromUtf8(text);
    m_mgr->FreeString(text);
    return copy;
}

std::optional<QString> CEngineBridge::TakeReply(char* reply, int code, char* message,
                                                BridgeStatus& status) {
    QString messageText = Take(message);
    if (reply == nullptr) {
        status.code = code;
        status.message = messageText;
        return std::nullopt;
    }
    return Take(reply);
}

QStringList CEngineBridge::TakeIdList(char* text) {
    return SplitIdList(Take(text));
}

QString CEngineBridge::ResolveLinkAddress(const QString& linkAddress, BridgeStatus& status) {
    if (m_mgr == nullptr) {
        return {};
    }
    int code = 0;
    char* message = nullptr;
    char* resolved = m_mgr->ResolveLinkAddress(Utf8(linkAddress).constData(), &code, &message);
    QString messageText = Take(message);
    if (resolved == nullptr) {
        status.code = code;
        if (!messageText.isEmpty()) {
            status.message = messageText;
        }
        return {};
    }
    return Take(resolved);
}

QString CEngineBridge::AuthenticateLink(const QString& serviceAddress, const QString& deliveryCode,
                                        const QString& password, BridgeStatus& status) {
    if (m_mgr == nullptr) {
        return {};
    }
    char* token = nullptr;
    char* message = nullptr;
    const int code =
        m_mgr->AuthenticateLink(Utf8(serviceAddress).constData(), Utf8(deliveryCode).constData(),
                                Utf8(password).constData(), &token, &message);
    QString tokenText = Take(token);
    QString messageText = Take(message);
    if (code != 0) {
        status.code = code;
        if (!messageText.isEmpty()) {
            status.message = messageText;
        }
        return {};
    }
    return tokenText;
}

bool CEngineBridge::IsLinkLoginVerified(const QString& serviceAddress,
                                        const QString& deliveryCode) {
    return m_mgr != nullptr && m_mgr->IsLinkLoginVerified(Utf8(serviceAddress).constData(),
                                                          Utf8(deliveryCode).constData());
}

std::optional<QString> CEngineBridge::GetDeliveryMetadata(const QString& serviceAddress,
                                                          const QString& linkPath,
                                                          const QString& token, std::int64_t offset,
                                                          BridgeStatus& status,
                                                          const std::atomic<bool>* stop) {
    if (m_mgr == nullptr) {
        return std::nullopt;
    }
    int code = 0;
    char* message = nullptr;
    char* reply =
        m_mgr->GetDeliveryMetadata(Utf8(serviceAddress).constData(), Utf8(linkPath).constData(),
                                   Utf8(token).constData(), &code, &message, offset, stop);
    return TakeReply(reply, code, message, status);
}

std::optional<QString> CEngineBridge::GetJsonPage(const QString& url, std::int64_t offset,
                                                  BridgeStatus& status,
                                                  const std::atomic<bool>* stop) {
    if (m_mgr == nullptr) {
        return std::nullopt;
    }
    int code = 0;
    char* message = nullptr;
    char* reply = m_mgr->GetJsonPage(Utf8(url).constData(), &code, &message, offset, stop);
    return TakeReply(reply, code, message, status);
}

void CEngineBridge::ListLinkTree(const QString& serviceAddress, const QString& deliveryCode,
                                 const QString& token, LinkItem& root, LinkItem& allItems,
                                 BridgeStatus& status, const std::atomic<bool>* stop) {
    CEngineBridge pages(m_mgr);
    ::ListLinkTree(pages, serviceAddress, deliveryCode, token, root, allItems, status, stop);
}

void CEngineBridge::StartFolderListing(const LinkItem& folder, QObject* receiver,
                                       const QString& token) {
    auto action = std::make_unique<CGetMetaAction>(m_mgr, folder, receiver, token);
    CGetMetaAction* started = action.get();
    m_pool.Add(std::move(action));
    started->Start(0);
}

QString CEngineBridge::NewDeliveryTask(const QString& downloadUrl, const QString& localPath,
                                       bool isFolder, const QString& taskAddress, int priority,
                                       const QString& password) {
    if (m_mgr == nullptr) {
        return {};
    }
    const QString remainCountUrl =
        downloadUrl.isEmpty() && !isFolder ? RemainCountAddress(taskAddress) : QString();
    return Take(m_mgr->NewDeliveryDownloadTask(
        kFrontGroupId, Utf8(downloadUrl).constData(), Utf8(localPath).constData(), isFolder,
        Utf8(taskAddress).constData(), priority, Utf8(remainCountUrl).constData(),
        Utf8(password).constData()));
}

bool CEngineBridge::StartTask(const QString& taskId) {
    if (m_mgr == nullptr) {
        return false;
    }
    m_mgr->StartTask(Utf8(taskId).constData());
    return !taskId.isEmpty();
}

bool CEngineBridge::PauseTask(const QString& taskId) {
    if (m_mgr == nullptr) {
        return false;
    }
    m_mgr->PauseTask(Utf8(taskId).constData());
    return !taskId.isEmpty();
}

bool CEngineBridge::DeleteTask(const QString& taskId) {
    if (m_mgr == nullptr) {
        return false;
    }
    m_mgr->DeleteTask(Utf8(taskId).constData());
    return !taskId.isEmpty();
}

bool CEngineBridge::IsTaskListLoaded() {
    return m_mgr != nullptr && m_mgr->IsLoaded();
}

QStringList CEngineBridge::GetTaskIds() {
    if (m_mgr == nullptr) {
        return {};
    }
    return TakeIdList(m_mgr->GetTaskIdList(kFrontGroupId, 255));
}

QStringList CEngineBridge::GetChangedTaskIds() {
    if (m_mgr == nullptr) {
        return {};
    }
    return TakeIdList(m_mgr->GetChangedTaskIdList(kFrontGroupId));
}

QStringList CEngineBridge::GetSubTaskIds(const QString& taskId) {
    if (m_mgr == nullptr) {
        return {};
    }
    return TakeIdList(m_mgr->GetSubTaskIdList(Utf8(taskId).constData(), 0, -1));
}

QStringList CEngineBridge::GetChangedSubTaskIds(const QString& taskId) {
    if (m_mgr == nullptr) {
        return {};
    }
    return TakeIdList(m_mgr->GetChangedSubTaskIdList(Utf8(taskId).constData()));
}

CTaskViewInfo CEngineBridge::GetTaskView(const QString& taskId) {
    if (m_mgr == nullptr) {
        return {};
    }
    char* text = m_mgr->GetTaskInfo(Utf8(taskId).constData());
    if (text == nullptr) {
        return {};
    }
    CTaskViewInfo view = DecodeTaskView(text, true);
    m_mgr->FreeString(text);
    return view;
}

CTaskViewInfo CEngineBridge::GetSubTaskView(const QString& taskId, const QString& subTaskPath) {
    if (m_mgr == nullptr) {
        return {};
    }
    char* text = m_mgr->GetSubTaskInfo(Utf8(taskId).constData(), Utf8(subTaskPath).constData());
    if (text == nullptr) {
        return {};
    }
    CTaskViewInfo view = DecodeTaskView(text, false);
    m_mgr->FreeString(text);
    return view;
}

QStringList SplitIdList(const QString& text) {
    QStringList ids;
    for (const QString& piece : text.split(QLatin1String(kIdSeparator))) {
        if (!piece.isEmpty()) {
            ids.append(piece);
        }
    }
    return ids;
}

QString RemainCountAddress(const QString& taskAddress) {
    const qsizetype colon = taskAddress.indexOf(u':');
    if (colon < 0) {
        return {};
    }
    const qsizetype baseEnd = taskAddress.indexOf(u'/', colon + 3);
    const qsizetype metadata = taskAddress.indexOf(QLatin1String("metadata"));
    if (baseEnd < 0 || metadata < 0) {
        return {};
    }
    const qsizetype codeStart = metadata + 9;
    const qsizetype codeEnd = taskAddress.indexOf(u'/', codeStart);
    if (codeEnd < 0 || codeStart > taskAddress.size()) {
        return {};
    }
    const QString base = taskAddress.left(baseEnd);
    const QString code = taskAddress.mid(codeStart, codeEnd - codeStart);
    if (base.isEmpty() || code.isEmpty()) {
        return {};
    }
    return QStringLiteral("%1/v2/delivery/get_remain_download_count/%2").arg(base, code);
}
