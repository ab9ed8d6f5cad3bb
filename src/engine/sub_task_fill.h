#pragma once

#include "engine/task_info.h"

#include <functional>
#include <optional>
#include <string>

// Builds the full record of a sub-task from its task and its summary. The local path is the
// task's local path plus the sub-task's path relative to the task's service path. Returns false
// when that relative part cannot be worked out or would leave the task's local folder (an
// absolute part, a "." or ".." segment, a NUL); the failure is logged, the output is still
// filled and its local path is then the task's own.
//
// A segment of the relative part that ends in the temporary suffix is stored under the first
// "name (N)" that no other sub-task of the task uses: `taken` tells whether a relative part
// (as ServiceRelativePart gives it) belongs to one.
using RelativePartTaken = std::function<bool(const std::string& relative)>;
bool FillSubTaskInfo(const CTaskInfo& task, const SubTaskSummary& summary, CSubTaskInfo& out,
                     const RelativePartTaken& taken = {});

// The sub-task's path relative to its task's service path, normalised; nullopt when it cannot
// be worked out.
std::optional<std::string> ServiceRelativePart(const CTaskInfo& task,
                                               const SubTaskSummary& summary);
