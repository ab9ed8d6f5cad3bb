#include "engine/changer_cleanup.h"

// STUB: to be written
void CChangerDeleteTmpFile::DoChange() {}
void CChangerDeleteTaskDb::DoChange() {}
