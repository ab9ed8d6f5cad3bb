#include "engine/data_folder_lock.h"

#include "engine/private_paths.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

CDataFolderLock::~CDataFolderLock() {
    Release();
}

bool CDataFolderLock::Acquire(const std::string& folder) {
    Release();
    if (folder.empty()) {
        return true;
    }
    // Made (or tightened) before anything is stored in it.
    EnsurePrivateFolder(folder);
    const std::string path = (std::filesystem::path(folder) / "engine.lock").string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A folder we cannot write to fails later with the store's own error.
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void CDataFolderLock::Release() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}
