#include "engine/changer_new_tasks.h"

#include "engine/change_queue.h"
#include "engine/engine_log.h"
#include "engine/task_mgr.h"

void CChangerAddNewTask::DoChange() {
    CTaskMgr* tasks = EngineTasks();
    if (tasks == nullptr || tasks->GetSameTask(m_task) != nullptr) {
        return;
    }
    if (m_task.task_id.empty()) {
        m_task.task_id = m_task.MakeTaskId();
    }
    tasks->AddNewTask(m_task, false);
}

void CChangerLoadTaskFromDb::DoChange() {
    CTaskMgr* tasks = EngineTasks();
    if (tasks == nullptr) {
        return;
    }
    if (m_all) {
        EngineLog(kEngineLogInfo, "CChangerLoadTaskFromDb::DoChange:all");
        tasks->LoadAll();
        return;
    }
    EngineLogF(kEngineLogInfo, "CChangerLoadTaskFromDb::DoChange:%s", m_groupId.c_str());
    tasks->LoadGroup(m_groupId);
}
