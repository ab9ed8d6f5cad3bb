#pragma once

#include "tracking/parvex_task_mgr.h"

#include <QString>

// Why a picked item got no task, in the current language: a name that cannot be a local name
// ("%s(%d)" with its code), else that no task could be added for it.
QString AddFailureText(const AddedTask& added);
