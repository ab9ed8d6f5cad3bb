#pragma once

#include "engine/part_bitmap.h"
#include "engine/task_changer.h"

#include <cstdint>
#include <optional>
#include <string>

// Progress of one sub-task: parts hashed, done or undone, bytes sent, a new state and the
// upload side's fields. It follows the sub-task to the completion (or failure) of its task.
// Reports for the same sub-task and state queued within one pass merge into one.
class CChangerSubTaskProgress final : public CTaskInfoChangerBase {
public:
    CChangerSubTaskProgress(std::string taskId, std::string subTaskPath)
        : m_taskId(std::move(taskId)), m_subTaskPath(std::move(subTaskPath)) {}

    bool TryMerge(const CTaskInfoChangerBase& other) override;
    void DoChange() override;

    PartBitmap hashedParts;
    PartBitmap doneParts;
    PartBitmap undoParts;
    std::uint64_t sentBytes = 0;
    std::uint32_t state = 0; // 0: no state change
    std::string newBoxPath;
    std::int32_t transmethod = 1; // 1: no change
    std::int32_t rsyncstate = 1;  // 1: no change
    std::string revision;
    std::uint64_t completedBytes = 0; // 0: not given
    // A part worker's: the file validator its parts were fetched under. A report whose
    // validator is not the sub-task's (the file changed on the service since) is dropped whole.
    std::optional<std::string> validator;
    // The validator came with the reply to a request that carried none: a sub-task that has
    // none takes it.
    bool validatorLearned = false;

private:
    std::string m_taskId;
    std::string m_subTaskPath;
};
