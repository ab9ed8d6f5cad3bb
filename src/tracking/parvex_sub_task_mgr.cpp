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
    const auto lock = m_windows.Lock();
    post_targets::Target added;
    m_windows.AddLocked(receiver, added);
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
    const auto lock = m_windows.Lock();
    m_windows.ForEachLocked([&](const post_targets::Target& target) {
        post_targets::Post(
            target, std::make_unique<CTaskChangedEvent>(kMsgSubTaskChanged, record.targetPath,
                                                        std::make_unique<CTaskViewInfo>(record)));
    });
}
