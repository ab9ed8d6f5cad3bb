#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

// One platform file and its path. A failing operation keeps its errno as the calling thread's
// last file error (LastFileError), the way the file layer reports why. A file is never opened
// through a symbolic link, and only a regular file is opened at all: anything else in the way
// fails with kNotPlainFileError and is left as it is. New files are private to the user (0600).
class CTovuFile {
public:
    // Open modes.
    static constexpr int kReadShared = 1; // read only; others may read and write
    static constexpr int kReadWrite = 2;  // read and write; no other writer (an advisory lock)
    // Creation dispositions.
    static constexpr int kCreateNew = 1;
    static constexpr int kCreateAlways = 2;
    static constexpr int kOpenExisting = 3;
    static constexpr int kOpenAlways = 4;
    static constexpr int kTruncateExisting = 5;

    CTovuFile() = default;
    virtual ~CTovuFile();
    CTovuFile(const CTovuFile&) = delete;
    CTovuFile& operator=(const CTovuFile&) = delete;

    virtual bool Exists() const;
    // Size of the open file; -1 when not open or on failure.
    virtual std::int64_t GetSize() const;
    // Sets the exact size, then reserves the blocks, so a full disk shows now rather than in
    // the middle of a download and a longer stale file keeps no tail. Existing bytes stay.
    virtual bool SetSize(std::int64_t size);
    // Last write time as a file time (100-ns units since 1601); -1 on failure.
    virtual std::int64_t GetModifiedTime() const;
    // Closes any open file first.
    virtual bool Open(int mode, int disposition);
    virtual bool IsOpen() const;
    virtual std::int64_t Read(void* buffer, std::size_t length);
    virtual std::int64_t Write(const void* buffer, std::size_t length);
    virtual void Close();
    // origin: SEEK_SET, SEEK_CUR or SEEK_END. The new position or -1.
    virtual std::int64_t Seek(std::int64_t offset, int origin);
    virtual bool SeekToBegin();
    virtual bool SeekToEnd();
    // Refused while the file is open.
    virtual bool SetPath(const std::string& path);
    virtual std::string GetPath() const;
    // Names the file inside an open folder (the handle is taken over and closed with this
    // object), so nothing above it is looked up by path again. The path stays for messages.
    bool SetLocation(int folderHandle, const std::string& name, const std::string& path);
    int FolderHandle() const { return m_folderFd; }
    // Gives the open file the permissions of a file the user makes (0666 less the umask).
    bool ApplyUserMask();
    const std::string& Name() const { return m_name; }

    // Writes the whole buffer at the offset without moving the file position: several threads
    // may write different parts at once. The bytes written or -1.
    std::int64_t WriteAt(const void* buffer, std::size_t length, std::uint64_t offset);
    // A second handle of the open file (closed by the caller), so a long sync need not hold
    // the file; -1 when not open or on failure.
    int DuplicateHandle() const;

private:
    void CloseFolder();

    std::string m_path;
    std::string m_name;
    int m_fd = -1;
    int m_folderFd = -1;
};

// The file error for a symbolic link or anything but a regular file where a file is expected.
inline constexpr int kNotPlainFileError = ELOOP;
// Whether a file error means something other than a plain file or folder stood in the way.
bool IsNotPlainFileError(int err);

// errno of the calling thread's last failed file operation (0 when none).
int LastFileError();
void SetLastFileError(int err);

// Opens the folder `relative` below `root` (both "/"-separated; `relative` may be empty) for
// use with the *at calls: the root is trusted as given, every folder below it must be a real
// folder, never a symbolic link. With `create`, missing folders are made. The handle or -1.
int OpenFolderBelow(const std::string& root, const std::string& relative, bool create);
// Renames `from` to `to` inside the folder without ever replacing an existing entry. False with
// EEXIST as the last file error when `to` is taken.
bool MoveNoReplace(int folderHandle, const std::string& from, const std::string& to);
// Writes the folder's entries (a rename) to the disk.
bool SyncFolder(int folderHandle);
// Whether anything, a dangling link included, has this name in the folder.
bool EntryExistsAt(int folderHandle, const std::string& name);
// Creates every missing folder of the path, parents first.
bool CreateDirectories(const std::string& folder);
