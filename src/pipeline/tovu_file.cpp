#include "pipeline/tovu_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local int t_lastFileError = 0;

constexpr mode_t kPrivateMode = 0600;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffset = 11644473600LL;

bool Fail() {
    t_lastFileError = errno;
    return false;
}

// The process's file-creation mask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t UserMask() {
    static const mode_t mask = [] {
        const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        char text[4096] = {};
        const ssize_t length = fd >= 0 ? ::read(fd, text, sizeof text - 1) : -1;
        if (fd >= 0) {
            ::close(fd);
        }
        const char* field = length > 0 ? std::strstr(text, "Umask:") : nullptr;
        return field != nullptr ? static_cast<mode_t>(std::strtoul(field + 6, nullptr, 8))
                                : static_cast<mode_t>(022);
    }();
    return mask;
}

int OpenFlags(int mode, int disposition) {
    int flags = O_CLOEXEC | (mode == CTovuFile::kReadWrite ? O_RDWR : O_RDONLY);
    switch (disposition) {
    case CTovuFile::kCreateNew:
        return flags | O_CREAT | O_EXCL;
    case CTovuFile::kCreateAlways:
        return flags | O_CREAT | O_TRUNC;
    case CTovuFile::kOpenAlways:
        return flags | O_CREAT;
    case CTovuFile::kTruncateExisting:
        return flags | O_TRUNC;
    default:
        return flags;
    }
}

} // namespace

int LastFileError() {
    return t_lastFileError;
}

void SetLastFileError(int err) {
    t_lastFileError = err;
}

CTovuFile::~CTovuFile() {
    Close();
    CloseFolder();
}

bool CTovuFile::Exists() const {
    struct stat info {};
    const int done = m_folderFd >= 0
                         ? ::fstatat(m_folderFd, m_name.c_str(), &info, AT_SYMLINK_NOFOLLOW)
                         : ::lstat(m_path.c_str(), &info);
    return done == 0 || Fail();
}

std::int64_t CTovuFile::GetSize() const {
    struct stat info {};
    if (m_fd < 0) {
        t_lastFileError = EBADF;
        return -1;
    }
    if (::fstat(m_fd, &info) != 0) {
        Fail();
        return -1;
    }
    return info.st_size;
}

bool CTovuFile::SetSize(std::int64_t size) {
    if (m_fd < 0 || size < 0) {
        t_lastFileError = m_fd < 0 ? EBADF : EINVAL;
        return false;
    }
    if (::ftruncate(m_fd, size) != 0) {
        return Fail();
    }
    if (size == 0) {
        return true;
    }
    // The raw call, never an emulation that writes zeros over existing bytes. A file system
    // that cannot reserve blocks still has the right size.
    if (::fallocate(m_fd, 0, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
        return Fail();
    }
    return true;
}

std::int64_t CTovuFile::GetModifiedTime() const {
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        t_lastFileError = m_fd < 0 ? EBADF : errno;
        return -1;
    }
    return (static_cast<std::int64_t>(info.st_mtim.tv_sec) + kFileTimeEpochOffset) * 10000000LL +
           info.st_mtim.tv_nsec / 100;
}

bool CTovuFile::Open(int mode, int disposition) {
    Close();
    // Non-blocking only for the open itself: a FIFO in the way must not hang it.
    const int flags = OpenFlags(mode, disposition) | O_NOFOLLOW | O_NONBLOCK;
    const int fd = m_folderFd >= 0 ? ::openat(m_folderFd, m_name.c_str(), flags, kPrivateMode)
                                   : ::open(m_path.c_str(), flags, kPrivateMode);
    if (fd < 0) {
        if (errno == EISDIR || errno == ENXIO) {
            errno = kNotPlainFileError;
        }
        return Fail();
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int err = S_ISREG(info.st_mode) ? errno : kNotPlainFileError;
        ::close(fd);
        t_lastFileError = err;
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A file left by an older version may be readable by others.
    if (mode == kReadWrite && (info.st_mode & 0777) != kPrivateMode) {
        ::fchmod(fd, kPrivateMode);
    }
    // A writer keeps other writers (another engine on another data folder) out of the file.
    if (mode == kReadWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        t_lastFileError = err;
        return false;
    }
    m_fd = fd;
    return true;
}

bool CTovuFile::IsOpen() const {
    return m_fd >= 0;
}

std::int64_t CTovuFile::Read(void* buffer, std::size_t length) {
    const ssize_t done = m_fd < 0 ? (errno = EBADF, -1) : ::read(m_fd, buffer, length);
    if (done < 0) {
        Fail();
    }
    return done;
}

std::int64_t CTovuFile::Write(const void* buffer, std::size_t length) {
    const ssize_t done = m_fd < 0 ? (errno = EBADF, -1) : ::write(m_fd, buffer, length);
    if (done < 0) {
        Fail();
    }
    return done;
}

std::int64_t CTovuFile::WriteAt(const void* buffer, std::size_t length, std::uint64_t offset) {
    if (m_fd < 0) {
        t_lastFileError = EBADF;
        return -1;
    }
    const char* data = static_cast<const char*>(buffer);
    std::size_t written = 0;
    while (written < length) {
        const ssize_t done =
            ::pwrite(m_fd, data + written, length - written, static_cast<off_t>(offset + written));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            if (done == 0) {
                errno = ENOSPC;
            }
            Fail();
            return -1;
        }
        written += static_cast<std::size_t>(done);
    }
    return static_cast<std::int64_t>(written);
}

int CTovuFile::DuplicateHandle() const {
    const int fd = m_fd < 0 ? (errno = EBADF, -1) : ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        Fail();
    }
    return fd;
}

void CTovuFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd); // also drops the writer's lock
        m_fd = -1;
    }
}

void CTovuFile::CloseFolder() {
    if (m_folderFd >= 0) {
        ::close(m_folderFd);
        m_folderFd = -1;
    }
}

bool CTovuFile::SetLocation(int folderHandle, const std::string& name, const std::string& path) {
    if (IsOpen()) {
        return false;
    }
    CloseFolder();
    m_folderFd = folderHandle;
    m_name = name;
    m_path = path;
    return true;
}

bool CTovuFile::ApplyUserMask() {
    if (m_fd < 0) {
        t_lastFileError = EBADF;
        return false;
    }
    return ::fchmod(m_fd, 0666 & ~UserMask()) == 0 || Fail();
}

std::int64_t CTovuFile::Seek(std::int64_t offset, int origin) {
    const off_t position = m_fd < 0 ? (errno = EBADF, -1) : ::lseek(m_fd, offset, origin);
    if (position < 0) {
        Fail();
    }
    return position;
}

bool CTovuFile::SeekToBegin() {
    return Seek(0, SEEK_SET) == 0;
}

bool CTovuFile::SeekToEnd() {
    return Seek(0, SEEK_END) >= 0;
}

bool CTovuFile::SetPath(const std::string& path) {
    if (IsOpen()) {
        return false;
    }
    CloseFolder();
    m_name.clear();
    m_path = path;
    return true;
}

std::string CTovuFile::GetPath() const {
    return m_path;
}

bool IsNotPlainFileError(int err) {
    return err == kNotPlainFileError || err == ENOTDIR || err == EISDIR;
}

int OpenFolderBelow(const std::string& root, const std::string& relative, bool create) {
    if (create && !CreateDirectories(root)) {
        return -1;
    }
    int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        Fail();
        return -1;
    }
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        const std::string segment = relative.substr(start, end - start);
        start = end + 1;
        if (segment.empty()) {
            continue;
        }
        if (create && ::mkdirat(folder, segment.c_str(), 0777) != 0 && errno != EEXIST) {
            Fail();
            ::close(folder);
            return -1;
        }
        const int next =
            ::openat(folder, segment.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        ::close(folder);
        if (next < 0) {
            // A link or a file where a folder belongs.
            t_lastFileError = err == ENOTDIR ? kNotPlainFileError : err;
            return -1;
        }
        folder = next;
    }
    return folder;
}

bool MoveNoReplace(int folderHandle, const std::string& from, const std::string& to) {
    if (::renameat2(folderHandle, from.c_str(), folderHandle, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return Fail();
    }
    // A file system without the flag: a hard link is made only where nothing is.
    if (::linkat(folderHandle, from.c_str(), folderHandle, to.c_str(), 0) == 0) {
        ::unlinkat(folderHandle, from.c_str(), 0);
        return true;
    }
    if (errno == EEXIST || (errno != EPERM && errno != EOPNOTSUPP)) {
        return Fail();
    }
    // Neither: look, then move. Only a race with another writer could still replace.
    if (EntryExistsAt(folderHandle, to)) {
        t_lastFileError = EEXIST;
        return false;
    }
    return ::renameat(folderHandle, from.c_str(), folderHandle, to.c_str()) == 0 || Fail();
}

bool SyncFolder(int folderHandle) {
    return ::fsync(folderHandle) == 0 || Fail();
}

bool EntryExistsAt(int folderHandle, const std::string& name) {
    struct stat info {};
    return ::fstatat(folderHandle, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ||
           errno != ENOENT;
}

bool CreateDirectories(const std::string& folder) {
    std::error_code created;
    std::filesystem::create_directories(folder, created);
    std::error_code checked;
    if (std::filesystem::is_directory(folder, checked)) {
        return true;
    }
    // A file in the way of a folder: the OS says "exists".
    t_lastFileError = created ? created.value() : EEXIST;
    return false;
}
