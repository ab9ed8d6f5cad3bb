#include "engine/changer_task_fields.h"

#include "engine/change_queue.h"
#include "engine/engine_task.h"
#include "engine/task_mgr.h"

#include <functional>

namespace {

constexpr std::int32_t kIncrementalSyncMethod = 4;
constexpr std::int32_t kNoSyncState = 1;

// Writes the task back when `changeTask` changed it, then applies `changeSub` to its Working
// and Error sub-tasks.
void ChangeTaskField(const std::string& taskId, const std::function<bool(CTaskInfo&)>& changeTask,
                     const std::function<void(CSubTaskInfo&)>& changeSub) {
    const auto [tasks, entry] = FindEngineTask(taskId);
    if (entry == nullptr) {
        return;
    }
    CTaskInfo task = entry->Info();
    if (changeTask(task)) {
        tasks->UpdateTask(task);
    }
    ChangeSubTasks(*entry, kStateWorking | kStateError, changeSub);
}

// Sets `field` to `value`; true when it changed.
template <typename T>
bool Assign(T& field, const T& value) {
    if (field == value) {
        return false;
    }
    field = value;
    return true;
}

} // namespace

void CChangerSecTransFlag::DoChange() {
    ChangeTaskField(
        m_taskId, [this](CTaskInfo& task) { return Assign(task.is_sectrans, m_flag); },
        [this](CSubTaskInfo& sub) { sub.is_sectrans = m_flag; });
}

void CChangerDataServerHost::DoChange() {
    ChangeTaskField(
        m_taskId, [this](CTaskInfo& task) { return Assign(task.task_data_server, m_dataServer); },
        [this](CSubTaskInfo& sub) { sub.data_server = m_dataServer; });
}

void CChangerTaskTransMethod::DoChange() {
    const bool resetSync = m_transmethod != kIncrementalSyncMethod;
    ChangeTaskField(
        m_taskId,
        [this, resetSync](CTaskInfo& task) {
            const bool changed = Assign(task.transmethod, m_transmethod);
            return (resetSync && Assign(task.rsyncstate, kNoSyncState)) || changed;
        },
        [this, resetSync](CSubTaskInfo& sub) {
            sub.transmethod = m_transmethod;
            if (resetSync) {
                sub.rsyncstate = kNoSyncState;
            }
            // Their transfer starts again under the new method.
            sub.state = kStateWaiting;
        });
}

void CChangerTaskBoxFile::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    CTaskInfo task = entry->Info();
    // The preparation's snapshot may hold an access token renewed since: the address stays.
    BoxFileInfo learned = m_boxFile;
    learned.metaurl = task.box_file.metaurl;
    if (Assign(task.box_file, learned)) {
        tasks->UpdateTask(task);
    }
}
