#include "engine/private_paths.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

} // namespace

bool EnsurePrivateFolder(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    std::error_code error;
    const std::filesystem::path path(folder);
    if (!std::filesystem::is_directory(path, error) && path.has_parent_path() &&
        path.parent_path() != path) {
        const std::string parent = path.parent_path().string();
        if (!std::filesystem::exists(path.parent_path(), error)) {
            EnsurePrivateFolder(parent);
        }
    }
    ::mkdir(folder.c_str(), kPrivateFolder);
    struct stat info {};
    // Only a real folder of this user is tightened: a link is not followed.
    if (::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
        (info.st_mode & 0777) != kPrivateFolder) {
        ::chmod(folder.c_str(), kPrivateFolder);
    }
    return std::filesystem::is_directory(path, error);
}

void PreparePrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
    if (fd < 0) {
        return; // SQLite reports whatever keeps it from opening the file
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0777) != kPrivateFile) {
        ::fchmod(fd, kPrivateFile);
    }
    ::close(fd);
}
