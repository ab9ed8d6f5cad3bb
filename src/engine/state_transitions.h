#pragma once

#include <cstdint>

// Whether a task or sub-task may go from one state to another. A Completed one never changes;
// a stopped one only returns to Waiting; a preparation can only end in Waiting or Error.
bool IsStateChangeAllowed(std::uint32_t from, std::uint32_t to);
