#include "engine/changer_prepare_task.h"

#include "engine/change_queue.h"
#include "engine/engine_task.h"
#include "engine/task_mgr.h"

void CChangerPrepareTask::DoChange() {
    const auto [tasks, entry] = FindEngineTask(m_taskId);
    if (entry == nullptr) {
        return;
    }
    const std::uint32_t current = entry->State();
    if (current != kStateWaitPreparing && current != kStatePreparing) {
        // Left over from a preparation that has ended (failed, or the task was restarted): its
        // sub-tasks must not be counted into the task.
        return;
    }
    for (const SubTaskSummary& sub : m_subTasks) {
        entry->AddSubTask(sub.path, sub.size, sub.is_folder, sub.finger_mark);
    }
    if (m_finished) {
        entry->CommitSubTasks();
    }
    CTaskInfo task = entry->Info();
    std::uint32_t state = kStatePreparing;
    if (m_finished) {
        state = entry->PendingState();
        // Used up: a later preparation of the task (after an error) must not pause it again.
        entry->SetPendingState(kStateWaiting);
        if (!task.pass.empty() && task.sub_task_count == 1 && !task.is_folder) {
            task.new_box_path = task.box_file.path + ".lock";
        }
    }
    task.SetState(state);
    tasks->UpdateTask(task);
}
