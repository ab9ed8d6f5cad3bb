#include "engine/changer_sub_task_progress.h"

// STUB: to be written
void CChangerSubTaskProgress::DoChange() {}
bool CChangerSubTaskProgress::TryMerge(const CTaskInfoChangerBase&) { return false; }
