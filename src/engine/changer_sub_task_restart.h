#pragma once

#include "engine/task_changer.h"

#include <cstddef>
#include <string>

// The file of a download sub-task changed on the service (a 200 answered the If-Range with
// `oldValidator`): its recorded parts belong to the old version. The sub-task starts again
// from its first byte with `newValidator` (empty: none). Its workers, all fetching the old
// version, stop, and it is queued again once they have ended. A report for a validator the
// sub-task no longer has (another worker's reply restarted it already) changes nothing; a file
// that changes more than kMaxRestarts times in one run of its task fails with 20112.
class CChangerSubTaskRestart final : public CTaskInfoChangerBase {
public:
    static constexpr std::size_t kMaxRestarts = 3;

    CChangerSubTaskRestart(std::string taskId, std::string subTaskPath, std::string oldValidator,
                           std::string newValidator)
        : m_taskId(std::move(taskId)), m_subTaskPath(std::move(subTaskPath)),
          m_oldValidator(std::move(oldValidator)), m_newValidator(std::move(newValidator)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::string m_subTaskPath;
    std::string m_oldValidator;
    std::string m_newValidator;
};
