// Placeholder until the tracker lands.
#include "tracking/parvex_task_mgr.h"

CParvexTaskMgr::CParvexTaskMgr(CEngineBridge* bridge, std::chrono::milliseconds pollInterval)
    : m_bridge(bridge), m_pollInterval(pollInterval) {}
CParvexTaskMgr::~CParvexTaskMgr() {
    StopForDestruction();
}
void CParvexTaskMgr::AddWindow(QObject*) {}
void CParvexTaskMgr::GetAllTasks(std::map<QString, CTaskViewInfo>&) const {}
std::vector<AddedTask> CParvexTaskMgr::AddDownloadTasks(const std::vector<LinkItem>&,
                                                        const QString&, const QString&) {
    return {};
}
void CParvexTaskMgr::Run(std::int32_t) {}
