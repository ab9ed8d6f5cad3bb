#pragma once

#include "engine/task_info.h"

// Builds the full record of a sub-task from its task and its summary. The local path is the
// task's local path plus the sub-task's path relative to the task's service path. Returns false
// when that relative part cannot be worked out or would leave the task's local folder (an
// absolute part, a "." or ".." segment, a NUL); the failure is logged, the output is still
// filled and its local path is then the task's own.
bool FillSubTaskInfo(const CTaskInfo& task, const SubTaskSummary& summary, CSubTaskInfo& out);
