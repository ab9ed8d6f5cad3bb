#include "engine/engine_task.h"

#include "engine/change_queue.h"
#include "engine/task_mgr.h"

EngineTask FindEngineTask(const std::string& taskId) {
    CTaskMgr* tasks = EngineTasks();
    std::shared_ptr<CTaskEntry> entry = tasks != nullptr ? tasks->FindTask(taskId) : nullptr;
    if (entry == nullptr) {
        return {};
    }
    return {tasks, std::move(entry)};
}

void ForEachSubTask(const CTaskEntry& entry, std::uint32_t stateMask,
                    const std::function<void(CSubTaskInfo& sub, bool localPathValid)>& visit) {
    for (const std::string& path : entry.ListSubTasks(stateMask, kAllTransMethods, 0, -1)) {
        CSubTaskInfo sub;
        bool localPathValid = true;
        if (entry.GetSubTask(path, sub, &localPathValid)) {
            visit(sub, localPathValid);
        }
    }
}

void ChangeSubTasks(CTaskEntry& entry, std::uint32_t stateMask,
                    const std::function<void(CSubTaskInfo& sub)>& change) {
    ForEachSubTask(entry, stateMask, [&entry, &change](CSubTaskInfo& sub, bool) {
        change(sub);
        entry.StoreSubTask(sub);
    });
}
