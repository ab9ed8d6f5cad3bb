#pragma once

#include <cstdint>
#include <string>

// "<kernel name> Ver<major>.<minor>" from uname, then "_64" when this is a 32-bit process on a
// 64-bit kernel, "_32" otherwise. Empty before the suffix when the version cannot be read.
std::string GetOsDescription();

// The described format for given uname fields (kernel name, release, machine) and the size of
// a pointer in this process; split out so every shape can be tested.
std::string MakeOsDescription(const std::string& sysname, const std::string& release,
                              const std::string& machine, unsigned pointerBits);

// "%d.%d.%d.%d": high and low 16 bits of the most significant half, then of the least.
std::string GetFileVersionText(std::uint32_t mostSignificant, std::uint32_t leastSignificant);
