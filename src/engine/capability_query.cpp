#include "engine/capability_query.h"

// STUB: to be written
bool QueryIncrementalSync() { return false; }
