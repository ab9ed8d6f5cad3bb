#include "engine/changer_errors.h"

// STUB: to be written
void CChangerSubTaskError::DoChange() {}
void CChangerTaskError::DoChange() {}
std::optional<AggregatedError> TaskFailure(const CTaskEntry&) { return std::nullopt; }
void QueueTaskFailure(const CTaskEntry&) {}
