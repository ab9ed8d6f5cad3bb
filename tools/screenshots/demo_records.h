#pragma once

#include "tracking/task_view_info.h"

#include <QString>

#include <vector>

// Made-up tasks for the pictures: believable names, sizes and times in every view state, with
// the engine's error texts in the current language (short ones: longer texts are elided in the
// state column at the windows' default sizes).
namespace demo_records {

// Where every made-up task saves to, and the save folder the selection dialog shows.
inline constexpr char kSaveFolder[] = "/home/demo/Downloads";

struct Keyed {
    QString key;
    CTaskViewInfo record;
};

// Rows of the main window, keyed by task id.
std::vector<Keyed> Tasks();

// The folder task whose detail dialog is shown; no engine knows its id.
CTaskViewInfo DetailTask();
// Its sub-tasks in every state, keyed by target path as the sub-task tracker keys them.
std::vector<Keyed> SubTasks();

} // namespace demo_records
