#include "engine/changer_new_tasks.h"

// STUB: to be written
void CChangerAddNewTask::DoChange() {}
void CChangerLoadTaskFromDb::DoChange() {}
