#include "engine/changer_prepare_task.h"

// STUB: to be written
void CChangerPrepareTask::DoChange() {}
