#include "engine/task_mgr_events.h"

#include "engine/engine_log.h"
#include "engine/task_state.h"

void TellTaskChanged(ITaskMgrEvents* events, const std::string& groupId, const std::string& taskId,
                     std::uint32_t state) {
    if (events != nullptr) {
        events->AddChangedTaskId(groupId, taskId);
    }
    EngineLogF(kEngineLogInfo, "AddChangedTaskId:id:%s;state:%s", taskId.c_str(),
               std::string(TaskStateName(state)).c_str());
}
