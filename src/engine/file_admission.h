#pragma once

#include <cstdint>
#include <string>

// Free bytes, for an unprivileged writer, of the file system that holds `path` or, when it does
// not exist yet, its nearest existing parent folder; UINT64_MAX when none can be asked (nothing
// is refused then).
std::uint64_t FreeBytesAt(const std::string& path);

// Whether a file of `size` bytes may be fetched: 0; 20002 for a size the service listed that
// was refused; 112 when the file is not started (`started`: its temporary file exists and holds
// its space already) and needs more than `freeBytes`.
int FileAdmissionCode(std::uint64_t size, bool started, std::uint64_t freeBytes);
