#include "engine/file_admission.h"

#include "engine/part_layout.h"
#include "engine/platform_error.h"
#include "net/service_request.h"

#include <filesystem>
#include <limits>
#include <sys/statvfs.h>

std::uint64_t FreeBytesAt(const std::string& path) {
    std::filesystem::path at(path);
    std::error_code error;
    // Bounded by the path's own segments.
    while (!at.empty() && !std::filesystem::exists(at, error)) {
        const std::filesystem::path parent = at.parent_path();
        if (parent == at) {
            break;
        }
        at = parent;
    }
    struct statvfs info {};
    if (at.empty() || ::statvfs(at.c_str(), &info) != 0) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

int FileAdmissionCode(std::uint64_t size, bool started, std::uint64_t freeBytes) {
    if (size > kMaxItemSize) {
        return service_code::kUnusableReply;
    }
    if (!started && size > freeBytes) {
        return platform_error::kDiskFull;
    }
    return 0;
}
