#include "engine/action_record.h"

// STUB: to be written
std::optional<std::string> ActionQuery(const ActionRecord&) { return std::nullopt; }
