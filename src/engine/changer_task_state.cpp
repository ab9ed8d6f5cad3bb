#include "engine/changer_task_state.h"

// STUB: to be written
void CChangerChangeTaskState::DoChange() {}
