#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CTaskEntry;
class CTaskMgr;
class CSubTaskInfo;

// A task of the running engine with the container that holds it.
struct EngineTask {
    CTaskMgr* tasks = nullptr;
    std::shared_ptr<CTaskEntry> entry;
};
// Both null when the engine is not running or has no such task (it may have been deleted).
EngineTask FindEngineTask(const std::string& taskId);

// Method mask of ListSubTasks that takes sub-tasks of every transfer method.
inline constexpr std::int32_t kAllTransMethods = -1;

// Calls `visit` with the full record of every sub-task of the entry whose state is in the mask,
// and whether its local path could be derived safely (when not, the record's local path is the
// task's own and must not be touched).
void ForEachSubTask(const CTaskEntry& entry, std::uint32_t stateMask,
                    const std::function<void(CSubTaskInfo& sub, bool localPathValid)>& visit);

// Applies `change` to every sub-task of the entry whose state is in the mask and stores it.
void ChangeSubTasks(CTaskEntry& entry, std::uint32_t stateMask,
                    const std::function<void(CSubTaskInfo& sub)>& change);
