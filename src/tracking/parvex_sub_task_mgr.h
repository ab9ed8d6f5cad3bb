#pragma once

#include "engine/parvex_thread.h"
#include "tracking/parvex_task_mgr.h"
#include "tracking/post_target_list.h"
#include "tracking/task_view_info.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <mutex>
#include <vector>

class CEngineBridge;

// Follows the sub-tasks of one task for a detail window: every sub-task once the task is
// prepared, then every changed one, posted as "parvex_msg_sub_task_changed" keyed by the
// sub-task's target path.
class CParvexSubTaskMgr : public CParvexThread {
public:
    explicit CParvexSubTaskMgr(
        QString taskId, CEngineBridge* bridge = nullptr,
        std::chrono::milliseconds pollInterval = CParvexTaskMgr::kDefaultPollInterval);
    ~CParvexSubTaskMgr() override;

    void AddWindow(QObject* receiver);
    const QString& TaskId() const { return m_taskId; }

protected:
    void Run(std::int32_t param) override;

private:
    void Post(const CTaskViewInfo& record);

    const QString m_taskId;
    CEngineBridge* m_bridge;
    const std::chrono::milliseconds m_pollInterval;
    CPostTargetList m_windows;
};
