#pragma once

#include <cstddef>

// Writes the whole buffer to `fd`, resuming after short writes and interruptions.
// False on any other error (errno tells which).
bool WriteAll(int fd, const char* data, std::size_t size);
