// Placeholder until the tracker lands.
#include "tracking/parvex_sub_task_mgr.h"

CParvexSubTaskMgr::CParvexSubTaskMgr(QString taskId, CEngineBridge* bridge,
                                     std::chrono::milliseconds pollInterval)
    : m_taskId(std::move(taskId)), m_bridge(bridge), m_pollInterval(pollInterval) {}
CParvexSubTaskMgr::~CParvexSubTaskMgr() {
    StopForDestruction();
}
void CParvexSubTaskMgr::AddWindow(QObject*) {}
void CParvexSubTaskMgr::Run(std::int32_t) {}
