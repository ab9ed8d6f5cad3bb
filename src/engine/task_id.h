#pragma once

#include <string_view>

// Task ids are MD5 digests in upper-case hexadecimal: 32 digits. An id read back from the store
// names a folder in the data folder, so any other text is never used.
bool IsTaskId(std::string_view id);
