#include "tracking/parvex_sub_task_mgr.h"

#include "app/engine_bridge.h"
#include "tracking/front_events.h"
#include "tracking/post_targets.h"

#include <algorithm>
#include <memory>

namespace {

// How often a task still being prepared is asked again: its sub-tasks do not exist yet.
constexpr std::chrono::milliseconds kPreparePollInterval{500};

} // namespace

CParvexSubTaskMgr::CParvexSubTaskMgr(QString taskId, CEngineBridge* bridge,
                                     std::chrono::milliseconds pollInterval)
    : m_taskId(std::move(taskId)), m_bridge(bridge), m_pollInterval(pollInterval) {}

CParvexSubTaskMgr::~CParvexSubTaskMgr() {
    StopForDestruction();
}

void CParvexSubTaskMgr::AddWindow(QObject* receiver) {
    if (receiver == nullptr) {
        return;
    }
    post_targets::Register(receiver);
    std::lock_guard lock(m_windowsMutex);
    if (std::find(m_windows.begin(), m_windows.end(), receiver) == m_windows.end()) {
        m_windows.push_back(receiver);
    }
}

void CParvexSubTaskMgr::Run(std::int32_t) {
    CEngineBridge* bridge = m_bridge != nullptr ? m_bridge : CEngineBridge::Instance();
    if (bridge == nullptr) {
        return;
    }
    while (bridge->GetTaskView(m_taskId).viewState == view_state::kPreparing) {
        if (WaitForStop(kPreparePollInterval)) {
            return;
        }
    }
    for (const QString& id : bridge->GetSubTaskIds(m_taskId)) {
        if (IsStopRequested()) {
            return;
        }
        const CTaskViewInfo record = bridge->GetSubTaskView(m_taskId, id);
        if (!record.targetPath.isEmpty() && record.viewState != view_state::kAbsent) {
            Post(record);
        }
    }
    while (!IsStopRequested()) {
        for (const QString& id : bridge->GetChangedSubTaskIds(m_taskId)) {
            if (IsStopRequested()) {
                return;
            }
            const CTaskViewInfo record = bridge->GetSubTaskView(m_taskId, id);
            if (record.viewState != view_state::kAbsent) {
                Post(record);
            }
        }
        WaitForStop(m_pollInterval);
    }
}

void CParvexSubTaskMgr::Post(const CTaskViewInfo& record) {
    std::lock_guard lock(m_windowsMutex);
    for (QObject* receiver : m_windows) {
        post_targets::Post(
            receiver, std::make_unique<CTaskChangedEvent>(kMsgSubTaskChanged, record.targetPath,
                                                          std::make_unique<CTaskViewInfo>(record)));
    }
}
