#pragma once

#include "engine/change_queue.h"
#include "engine/dispatch_task_worker.h"
#include "engine/engine_context.h"
#include "engine/fake_transfer_workers.h"
#include "engine/task_mgr.h"
#include "engine/tovu_trans_mgr.h"
#include "engine/worker_base.h"
#include "store/store_fixture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr std::uint64_t kMiB = 1048576;

// A text the transfer manager returned, given back to it; "(none)" for a null text.
inline std::string TakeText(char* text) {
    const std::string copy = text != nullptr ? text : "(none)";
    GetTransMgr()->FreeString(text);
    return copy;
}

// The engine core without its threads: a task container told to the transfer manager, a
// dispatcher that is not started (tests apply its queued changes and run its passes
// themselves), fake transfer workers, and the store fixture's data folder and test clock.
class RuntimeTest : public StoreTest {
protected:
    static constexpr const char* kGroup = "G1";
    static constexpr const char* kBase = "https://svc.test/v2/delivery/download/CODE/Root";

    void SetUp() override {
        StoreTest::SetUp();
        SetTransferWorkers(&m_workers);
        EngineContext& context = GetEngineContext();
        m_tasks = std::make_unique<CTaskMgr>(GetTransMgr());
        context.taskMgr.store(m_tasks.get());
        m_dispatcher = std::make_unique<CDispatchTaskWorker>(*m_tasks);
        context.dispatcher.store(m_dispatcher.get());
    }
    void TearDown() override {
        // A worker that has left its registry may still be waking the dispatcher: join every
        // worker thread before the dispatcher goes, as the engine's shut-down does.
        EXPECT_EQ(TerminateAllWorkers(), 0u);
        ReapFinishedWorkers();
        EngineContext& context = GetEngineContext();
        context.dispatcher.store(nullptr);
        context.taskMgr.store(nullptr);
        m_dispatcher.reset();
        m_tasks.reset();
        SetTransferWorkers(nullptr);
        StoreTest::TearDown();
    }

    // A link folder task saved below the data folder, in the given state, without sub-tasks.
    CTaskInfo AddFolderTask(const std::string& id, std::uint32_t state,
                            std::uint64_t addTime = kStart) {
        CTaskInfo task;
        task.task_id = id;
        task.state = state;
        task.is_folder = true;
        task.add_time = addTime;
        task.priority = 1;
        task.group_id = kGroup;
        task.box_file.path = kBase;
        task.box_file.metaurl = "https://svc.test/v2/delivery/metadata/CODE/Root";
        task.local_file.path = m_dir.File("save/" + id);
        m_tasks->AddTask(task, true, true);
        return task;
    }

    // Adds file sub-tasks (name, size) or folders (size -1) below the task's service path and
    // commits them.
    void AddSubTasks(const std::string& taskId,
                     const std::vector<std::pair<std::string, std::int64_t>>& items,
                     const std::string& base = kBase) {
        const std::shared_ptr<CTaskEntry> entry = m_tasks->FindTask(taskId);
        ASSERT_NE(entry, nullptr);
        for (const auto& [name, size] : items) {
            entry->AddSubTask(base + "/" + name, size < 0 ? 0 : static_cast<std::uint64_t>(size),
                              size < 0, "FP");
        }
        ASSERT_TRUE(entry->CommitSubTasks());
    }

    static std::string SubPath(const std::string& name) { return std::string(kBase) + "/" + name; }

    std::uint32_t StateOf(const std::string& taskId) const {
        CTaskInfo task;
        return m_tasks->GetTask(taskId, task) ? task.state : kStateNone;
    }
    CTaskInfo TaskOf(const std::string& taskId) const {
        CTaskInfo task;
        m_tasks->GetTask(taskId, task);
        return task;
    }
    CSubTaskInfo SubTaskOf(const std::string& taskId, const std::string& name) const {
        CSubTaskInfo sub;
        m_tasks->GetSubTaskOf(taskId, SubPath(name), sub);
        return sub;
    }

    void Apply() { m_dispatcher->ApplyQueuedChanges(); }
    void Pass() { m_dispatcher->RunPass(); }

    FakeTransferWorkers m_workers;
    std::unique_ptr<CTaskMgr> m_tasks;
    std::unique_ptr<CDispatchTaskWorker> m_dispatcher;
};
