#include "pipeline/tovu_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local int t_lastFileError = 0;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffset = 11644473600LL;

bool Fail() {
    t_lastFileError = errno;
    return false;
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
}

bool CTovuFile::Exists() const {
    struct stat info {};
    return ::stat(m_path.c_str(), &info) == 0 || Fail();
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
    const int fd = ::open(m_path.c_str(), OpenFlags(mode, disposition), 0644);
    if (fd < 0) {
        return Fail();
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
    m_path = path;
    return true;
}

std::string CTovuFile::GetPath() const {
    return m_path;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 || Fail();
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
