#pragma once

#include "engine/parvex_thread.h"
#include "intake/link_item.h"
#include "tracking/post_target_list.h"
#include "tracking/task_view_info.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <vector>

class CEngineBridge;

// What AddDownloadTasks made of one picked item.
struct AddedTask {
    QString itemPath;  // the item's service path
    QString localPath; // where it is saved; empty when no free path was found
    QString taskId;    // empty when no task was made
    int errorCode = 0; // 20108 for a name that cannot be a local name
};

// The front end's task tracker: a thread that builds a snapshot of the group's tasks at start,
// deleting completed ones, then polls the engine for changed tasks and posts a private copy of
// each record to every registered receiver. Tasks completed meanwhile stay in the engine until
// the next start, so their detail windows can list their files.
class CParvexTaskMgr : public CParvexThread {
public:
    static constexpr std::chrono::milliseconds kDefaultPollInterval{2000};
    static constexpr std::chrono::milliseconds kLoadPollInterval{500};

    // Over `bridge`, or the process's bridge when null. A shorter poll interval serves the
    // command-line front end's live progress.
    explicit CParvexTaskMgr(CEngineBridge* bridge = nullptr,
                            std::chrono::milliseconds pollInterval = kDefaultPollInterval);
    ~CParvexTaskMgr() override;

    // Registers a receiver of "parvex_msg_task_loaded" and "parvex_msg_task_changed" (once);
    // after the snapshot it gets "parvex_msg_task_loaded" at once.
    void AddWindow(QObject* receiver);
    bool IsLoaded() const { return m_loaded.load(); }
    // Replaces `tasks` with the start-up snapshot once it is complete; unchanged before.
    void GetAllTasks(std::map<QString, CTaskViewInfo>& tasks) const;

    // One download task per picked item, saved under a free local name in `saveFolder`; the
    // password that opened the link stays with the tasks. An item whose unfinished task is
    // already in that folder (the link added again, perhaps after its token expired) gets that
    // task, with the new token, started again.
    std::vector<AddedTask> AddDownloadTasks(const std::vector<LinkItem>& items,
                                            const QString& saveFolder, const QString& token,
                                            const QString& password = QString());

protected:
    void Run(std::int32_t param) override;

private:
    CEngineBridge* Bridge() const;
    bool LoadSnapshot(CEngineBridge& bridge);
    static void PostLoaded(const post_targets::Target& target);
    void PostChanged(const QString& taskId, const CTaskViewInfo& record);

    CEngineBridge* m_bridge;
    const std::chrono::milliseconds m_pollInterval;
    std::atomic<bool> m_loaded{false};
    std::map<QString, CTaskViewInfo> m_snapshot; // written before m_loaded is set, then fixed
    CPostTargetList m_windows;
    // Completed tasks the start-up load deleted, until the engine reports them gone (tracker
    // thread only).
    std::set<QString> m_deletedAtLoad;
};
