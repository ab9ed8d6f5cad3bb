#include "engine/changer_task_fields.h"

// STUB: to be written
void CChangerSecTransFlag::DoChange() {}
void CChangerDataServerHost::DoChange() {}
void CChangerTaskTransMethod::DoChange() {}
