#pragma once

#include "engine/changer_sub_task_progress.h"
#include "engine/runtime_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// A task id as the engine makes them: 32 upper-case hex digits.
inline std::string HexId(char digit) {
    return std::string(32, digit);
}

// The engine core with helpers that put sub-tasks into a given state.
class ChangerTest : public RuntimeTest {
protected:
    // Stores a sub-task of the task with the state and the done parts ("1" per done part).
    void SetSubTask(const std::string& taskId, const std::string& name, std::uint32_t state,
                    const char* parts = "") {
        const std::shared_ptr<CTaskEntry> entry = m_tasks->FindTask(taskId);
        ASSERT_NE(entry, nullptr);
        CSubTaskInfo sub;
        ASSERT_TRUE(entry->GetSubTask(SubPath(name), sub));
        sub.state = state;
        sub.trans_bitmap.FromText(parts);
        entry->StoreSubTask(sub);
    }

    // A progress report for a sub-task: its new state, the parts done ("1" per part) and bytes.
    static std::unique_ptr<CChangerSubTaskProgress>
    Progress(const std::string& taskId, const std::string& name, std::uint32_t state,
             const char* done = "", std::uint64_t sentBytes = 0) {
        auto progress = std::make_unique<CChangerSubTaskProgress>(taskId, SubPath(name));
        progress->state = state;
        progress->doneParts.FromText(done);
        progress->sentBytes = sentBytes;
        return progress;
    }
};
