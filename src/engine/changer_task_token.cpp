#include "engine/changer_task_token.h"

#include "engine/changer_task_state.h"
#include "engine/delivery_url.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/task_entry.h"
#include "engine/task_mgr.h"

namespace {

// Puts the token into the task's address (in `task`, written back by the caller) and into the
// addresses the entry's sub-tasks keep.
void PutToken(CTaskEntry& entry, CTaskInfo& task, const std::string& token) {
    task.box_file.metaurl = WithAddressToken(task.box_file.metaurl, token);
    entry.ChangeKeptSubTasks([&token](CSubTaskInfo& sub) {
        if (sub.box_file.metaurl.empty() || AddressToken(sub.box_file.metaurl) == token) {
            return false;
        }
        sub.box_file.metaurl = WithAddressToken(sub.box_file.metaurl, token);
        return true;
    });
}

} // namespace

void CChangerTaskToken::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    CTaskInfo task = entry->Info();
    if (task.box_file.metaurl.empty() || AddressToken(task.box_file.metaurl) != m_staleToken) {
        return;
    }
    PutToken(*entry, task, m_token);
    tasks->UpdateTask(task);
    EngineLogF(kEngineLogInfo, "CChangerTaskToken: task:%s: access token renewed",
               m_taskId.c_str());
}

void CChangerRenewLinkTask::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    CTaskInfo task = entry->Info();
    PutToken(*entry, task, m_token);
    task.pass = m_password;
    tasks->UpdateTask(task);
    EngineLogF(kEngineLogInfo, "CChangerRenewLinkTask: task:%s: added again, new access token",
               m_taskId.c_str());
    if ((task.state & (kStateError | kStatePaused | kStateStop)) != 0) {
        CChangerChangeTaskState(m_taskId, kStateWaiting).DoChange();
    }
}
