#pragma once

#include "engine/thread_pool.h"
#include "tracking/task_view_info.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class CTovuTransMgr;
class QObject;
struct LinkItem;

// A failed call's code and message. Wrappers that fail set both; a success leaves the pair as
// the caller prepared it.
struct BridgeStatus {
    int code = 0;
    QString message;
};

// The group of every task this front end creates and follows.
inline constexpr char kFrontGroupId[] = "DD";
// Priority of the download tasks the front end creates.
inline constexpr int kFrontTaskPriority = 3;

// The front end's one way into the transfer engine. It owns the front end's thread pool and
// converts between the transfer manager's conventions (UTF-8 texts it allocates, id lists as
// one text) and the front end's (QString, status pairs, id arrays).
//
// Every wrapper does nothing and returns its empty result when there is no transfer manager.
// Wrappers may be called from any thread; the transfer manager accepts concurrent calls.
class CEngineBridge {
public:
    // A bridge over `mgr` (none allowed: every wrapper then returns its empty result). The
    // process's bridge is made by Instance(); tests make their own over a stand-in manager.
    explicit CEngineBridge(CTovuTransMgr* mgr);
    ~CEngineBridge();
    CEngineBridge(const CEngineBridge&) = delete;
    CEngineBridge& operator=(const CEngineBridge&) = delete;

    // The process's bridge over GetTransMgr(), created with its pool started on first use.
    static CEngineBridge* Instance();
    // Shuts the engine down, stops the pool (actions still running are not waited for beyond
    // the pool's stop bound) and destroys the process's bridge. Nothing to do without one.
    static void Shutdown();

    // Hands the engine the language code and the application data folder, installs the log
    // hook into the application log and starts the engine. 0, or the engine's code for why it
    // cannot run (its data folder is in use by another copy).
    int Start();
    // Tells the engine the current interface language.
    void SetEngineLanguage();

    QString ResolveLinkAddress(const QString& linkAddress, BridgeStatus& status);
    QString AuthenticateLink(const QString& serviceAddress, const QString& deliveryCode,
                             const QString& password, BridgeStatus& status);
    bool IsLinkLoginVerified(const QString& serviceAddress, const QString& deliveryCode);

    // One page of a link folder's listing: the reply text, or nullopt with the status set.
    // `stop`, when given, ends the request in flight once it is set.
    std::optional<QString> GetDeliveryMetadata(const QString& serviceAddress,
                                               const QString& linkPath, const QString& token,
                                               std::int64_t offset, BridgeStatus& status,
                                               const std::atomic<bool>* stop = nullptr);
    std::optional<QString> GetJsonPage(const QString& url, std::int64_t offset,
                                       BridgeStatus& status,
                                       const std::atomic<bool>* stop = nullptr);

    // The whole link, depth first (see link_listing.h); `stop` ends it, a request in flight
    // included. The walk uses the transfer manager directly, so a walk thread that outlives the
    // bridge at shutdown never touches it again.
    void ListLinkTree(const QString& serviceAddress, const QString& deliveryCode,
                      const QString& token, LinkItem& root, LinkItem& allItems,
                      BridgeStatus& status, const std::atomic<bool>* stop = nullptr);
    // Lists one folder in the background; the result is posted to `receiver`.
    void StartFolderListing(const LinkItem& folder, QObject* receiver, const QString& token);

    // A download task in the front end's group; the new id, empty on failure. A file without a
    // download URL gets the remaining-count address derived from its task address. The password
    // that opened the link stays with the task; an unfinished task of the same item in the same
    // folder takes the new token and password and goes on, and its id is returned.
    QString NewDeliveryTask(const QString& downloadUrl, const QString& localPath, bool isFolder,
                            const QString& taskAddress, int priority,
                            const QString& password = QString());

    // Each passes the id on (even an empty one) and returns whether it was not empty.
    bool StartTask(const QString& taskId);
    bool PauseTask(const QString& taskId);
    bool DeleteTask(const QString& taskId);

    bool IsTaskListLoaded();
    QStringList GetTaskIds();
    QStringList GetChangedTaskIds();
    QStringList GetSubTaskIds(const QString& taskId);
    QStringList GetChangedSubTaskIds(const QString& taskId);

    // The decoded record; initial values when the engine gives no text.
    CTaskViewInfo GetTaskView(const QString& taskId);
    CTaskViewInfo GetSubTaskView(const QString& taskId, const QString& subTaskPath);

    CTovuTransMgr* TransMgr() const { return m_mgr; }
    CThreadPool& Pool() { return m_pool; }

private:
    // Copies a text the manager returned and gives it back; empty for none.
    QString Take(char* text);
    QStringList TakeIdList(char* text);
    // A page request's reply, or nullopt with the status set; both texts are given back.
    std::optional<QString> TakeReply(char* reply, int code, char* message, BridgeStatus& status);

    CTovuTransMgr* m_mgr;
    CThreadPool m_pool;
};

// Splits an id list (every id followed by "201906122104") into its ids in text order,
// skipping empty pieces.
QStringList SplitIdList(const QString& text);

// The remaining-count address of a link file from its task address
// (scheme://host:port/v2/delivery/metadata/CODE/...): "scheme://host:port/v2/delivery/
// get_remain_download_count/CODE"; empty when the base or the code cannot be found.
QString RemainCountAddress(const QString& taskAddress);
