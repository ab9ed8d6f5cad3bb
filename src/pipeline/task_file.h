#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSubTaskInfo;
struct SharedTaskFile;

// Who attaches: a part worker writes (its attach creates the file when it is missing and hands
// a failure on as the sub-task's error); the finishing step only finishes an existing file (and
// reports a failure itself), so it never makes a file of zeros.
enum class TaskFileUse { kWrite, kFinish };

// What a writer of a task file needs to know about a write: the file's write sequence right
// after it, so the writer can tell later whether a sync has covered it.
struct WrittenPart {
    std::int64_t bytes = -1;
    std::uint64_t sequence = 0;
    bool fileFinished = false; // the file was finished meanwhile: nothing was written
};

// The temporary file of one download sub-task ("<local path>.tovutmp"), shared by every part
// worker of the sub-task and by its finishing step through a process-wide registry keyed by
// task id and sub-task key. The first user creates the file at its full size (or reopens the one
// an earlier run left); the last user's release closes it.
//
// Writes go to their own offsets and run side by side; closing, renaming and the start of a
// sync exclude them (the file lock). Syncs are shared: a worker whose parts another worker's
// sync already covered reports them without syncing again. A part counts as done only once
// synced, so what a crash loses is what was not yet synced: a file is synced when it has
// gathered kSyncBytes since the last sync started or kSyncIntervalMs have passed, however many
// workers write it. Those syncs run on the process's sync thread (RequestSync), so a worker
// goes on reading while its parts go to the disk; only the end of a range waits for one.
class CTaskFile {
public:
    static constexpr std::uint64_t kSyncIntervalMs = 250;
    static constexpr std::uint64_t kSyncBytes = 64ull << 20;

    CTaskFile() = default;
    ~CTaskFile(); // releases
    CTaskFile(const CTaskFile&) = delete;
    CTaskFile& operator=(const CTaskFile&) = delete;

    // Joins the sub-task's shared file, making it ready on first use. False when the task is
    // unknown, when there is nothing to write (Finished) or when the file could not be made
    // ready; that failure is logged and, for a writer, handed on as the sub-task's error (once,
    // however many workers attach). A writer gets no new file while its task is not Waiting or
    // Working, nor for a sub-task that is complete.
    bool Attach(const std::string& taskId, const std::string& subTaskPath,
                TaskFileUse use = TaskFileUse::kWrite);
    void Release();

    // The bytes written, or -1 (LastFileError tells why).
    WrittenPart WriteAt(const void* buffer, std::size_t length, std::uint64_t offset);
    bool IsOpen() const;
    // Whether every write up to `sequence` is known to be on the disk.
    bool IsSynced(std::uint64_t sequence) const;
    // Whether the last sync started at least the sync interval ago (or there was none), or the
    // file has gathered kSyncBytes of writes since; never while a sync runs.
    bool SyncDue() const;
    // Asks the sync thread to sync the file soon, unless it has been asked already.
    void RequestSync();
    // Whether a sync failed that may have missed the write numbered `sequence`: that write
    // can never be vouched for (SyncThrough tells the error).
    bool SyncFailedFor(std::uint64_t sequence) const;
    // Syncs the file's data unless a sync that covers `sequence` already ended. False when the
    // sync failed (LastFileError tells why).
    bool SyncThrough(std::uint64_t sequence);
    // Gives the finished file its final name (the temporary name without ".tovutmp") and syncs
    // the folder. A name taken meanwhile is never replaced: the file gets the first free
    // numbered name instead (logged). False, with the last file error set, when it failed.
    bool FinishRename();
    // The platform code of the attach's failure.
    int InitError() const { return m_initError; }
    // The attach found nothing to write: the file is finished, or its task no longer runs.
    bool Finished() const { return m_finished; }

    // Removes a download sub-task's temporary file now, or when its last user releases it.
    static void DeleteTempFile(const CSubTaskInfo& sub);
    // Users attached to any task file (tests).
    static std::size_t OpenFileCount();
    // Replaces kSyncIntervalMs (tests; 0 restores it).
    static void SetSyncIntervalForTesting(std::uint64_t milliseconds);

private:
    std::shared_ptr<SharedTaskFile> m_shared;
    std::string m_key;
    int m_initError = 0;
    bool m_finished = false;
};

// The temporary name of a download's local path.
std::string TempFilePath(const std::string& localPath);
