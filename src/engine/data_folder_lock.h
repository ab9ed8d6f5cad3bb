#pragma once

#include <string>
#include <utility>

// An exclusive lock on the engine's data folder, held while the engine runs, so that two
// programs never share one task store.
class CDataFolderLock {
public:
    CDataFolderLock() = default;
    ~CDataFolderLock();
    CDataFolderLock(const CDataFolderLock&) = delete;
    CDataFolderLock& operator=(const CDataFolderLock&) = delete;
    // The lock moves; the source no longer holds it.
    CDataFolderLock(CDataFolderLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

    // Takes the lock on the folder (created when missing); true when this process holds it. An
    // empty folder needs no lock.
    bool Acquire(const std::string& folder);
    void Release();

private:
    int m_fd = -1;
};
