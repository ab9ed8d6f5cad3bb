#pragma once

#include <string>
#include <string_view>

// A download is written to "<name>.tovutmp" and renamed when complete. A final name and its
// temporary name count as one name, so no final name ever ends in the suffix: a service name
// that does gets a numbered local name.
inline constexpr std::string_view kTempSuffix = ".tovutmp";

std::string TempName(std::string_view name);
bool HasTempSuffix(std::string_view name);

// The free-name rule's candidates: "name (N)" for a folder or a name ending in the temporary
// suffix, "stem (N).ext" for any other file (a leading dot starts a hidden name, not an
// extension).
std::string NumberedName(std::string_view name, int number, bool isFolder);

// How many numbered candidates are tried before a name counts as unavailable.
inline constexpr int kMaxNameNumber = 100000;
