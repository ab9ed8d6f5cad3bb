#include "tracking/parvex_task_mgr.h"

#include "app/engine_bridge.h"
#include "engine/message_texts.h"
#include "tracking/front_events.h"
#include "tracking/local_names.h"
#include "tracking/post_targets.h"

#include <algorithm>
#include <memory>

CParvexTaskMgr::CParvexTaskMgr(CEngineBridge* bridge, std::chrono::milliseconds pollInterval)
    : m_bridge(bridge), m_pollInterval(pollInterval) {}

CParvexTaskMgr::~CParvexTaskMgr() {
    StopForDestruction();
}

CEngineBridge* CParvexTaskMgr::Bridge() const {
    return m_bridge != nullptr ? m_bridge : CEngineBridge::Instance();
}

void CParvexTaskMgr::AddWindow(QObject* receiver) {
    const auto lock = m_windows.Lock();
    post_targets::Target added;
    if (m_windows.AddLocked(receiver, added) && m_loaded.load()) {
        PostLoaded(added);
    }
}

void CParvexTaskMgr::GetAllTasks(std::map<QString, CTaskViewInfo>& tasks) const {
    if (m_loaded.load()) {
        tasks = m_snapshot;
    }
}

std::vector<AddedTask> CParvexTaskMgr::AddDownloadTasks(const std::vector<LinkItem>& items,
                                                        const QString& saveFolder,
                                                        const QString& token,
                                                        const QString& password) {
    std::vector<AddedTask> added;
    CEngineBridge* bridge = Bridge();
    if (bridge == nullptr) {
        return added;
    }
    added.reserve(items.size());
    // Two picks of one name (from different folders) get different local names.
    QSet<QString> chosen;
    for (const LinkItem& item : items) {
        AddedTask& result = added.emplace_back();
        result.itemPath = item.path;
        // Checked before any path is formed: such a name could reach outside the save folder.
        if (!IsPlainName(item.Name())) {
            result.errorCode = engine_code::kInvalidNameFromServer;
            continue;
        }
        result.localPath = FreeLocalPath(item.path, saveFolder, item.isFolder, chosen);
        if (result.localPath.isEmpty()) {
            continue;
        }
        chosen.insert(result.localPath);
        const QString address = token.isEmpty()
                                    ? item.metadataUrl
                                    : item.metadataUrl + QStringLiteral("?token=") + token;
        result.taskId = bridge->NewDeliveryTask(item.downloadUrl, result.localPath, item.isFolder,
                                                address, kFrontTaskPriority, password);
        // The engine may hand back the item's unfinished task, which keeps its own local path.
        if (!result.taskId.isEmpty()) {
            const QString kept = bridge->GetTaskView(result.taskId).targetPath;
            if (!kept.isEmpty()) {
                result.localPath = kept;
            }
        }
    }
    return added;
}

void CParvexTaskMgr::Run(std::int32_t) {
    if (IsStopRequested()) {
        return;
    }
    CEngineBridge* bridge = Bridge();
    if (bridge == nullptr || !LoadSnapshot(*bridge)) {
        return;
    }
    // Completed tasks stay in the engine until the next start: their detail windows list
    // their files from it.
    do {
        for (const QString& id : bridge->GetChangedTaskIds()) {
            if (IsStopRequested()) {
                return;
            }
            const CTaskViewInfo record = bridge->GetTaskView(id);
            if (record.viewState == view_state::kAbsent) {
                m_deletedAtLoad.erase(id);
                continue;
            }
            // Loading reports every stored task as changed; one deleted by the load may still
            // be reported completed until its deletion has been applied.
            if (m_deletedAtLoad.count(id) != 0) {
                continue;
            }
            PostChanged(id, record);
        }
    } while (!WaitForStop(m_pollInterval));
}

bool CParvexTaskMgr::LoadSnapshot(CEngineBridge& bridge) {
    while (!bridge.IsTaskListLoaded()) {
        if (WaitForStop(kLoadPollInterval)) {
            return false;
        }
    }
    for (const QString& id : bridge.GetTaskIds()) {
        if (IsStopRequested()) {
            return false;
        }
        CTaskViewInfo record = bridge.GetTaskView(id);
        if (record.viewState == view_state::kCompleted) {
            bridge.DeleteTask(id);
            m_deletedAtLoad.insert(id);
            continue;
        }
        // Deleted between the list and its record: nothing to show.
        if (record.viewState == view_state::kAbsent) {
            continue;
        }
        m_snapshot.insert_or_assign(id, std::move(record));
    }
    // Under the lock, so a window registering now gets the loaded event exactly once.
    const auto lock = m_windows.Lock();
    m_loaded.store(true);
    m_windows.ForEachLocked(&CParvexTaskMgr::PostLoaded);
    return true;
}

void CParvexTaskMgr::PostLoaded(const post_targets::Target& target) {
    post_targets::Post(target, std::make_unique<CFrontEvent>(kMsgTaskLoaded));
}

void CParvexTaskMgr::PostChanged(const QString& taskId, const CTaskViewInfo& record) {
    const auto lock = m_windows.Lock();
    m_windows.ForEachLocked([&](const post_targets::Target& target) {
        post_targets::Post(
            target, std::make_unique<CTaskChangedEvent>(kMsgTaskChanged, taskId,
                                                        std::make_unique<CTaskViewInfo>(record)));
    });
}
