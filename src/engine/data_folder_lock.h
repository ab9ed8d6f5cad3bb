#pragma once

#include <string>

// An exclusive lock on the engine's data folder, held while the engine runs, so that two
// programs never share one task store.
class CDataFolderLock {
public:
    CDataFolderLock() = default;
    ~CDataFolderLock();
    CDataFolderLock(const CDataFolderLock&) = delete;
    CDataFolderLock& operator=(const CDataFolderLock&) = delete;

    // Takes the lock on the folder (created when missing); true when this process holds it. An
    // empty folder needs no lock.
    bool Acquire(const std::string& folder);
    void Release();

private:
    int m_fd = -1;
};
