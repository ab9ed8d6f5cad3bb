#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// View states of tasks and sub-tasks as the windows show them.
namespace view_state {
inline constexpr int kNone = 0;    // a record that received no state
inline constexpr int kWorking = 1; // transferring or queued
inline constexpr int kPaused = 3;
inline constexpr int kError = 4;
inline constexpr int kCompleted = 5;
inline constexpr int kPreparing = 6;
inline constexpr int kAbsent = 7; // deleted, or never known to the engine
} // namespace view_state

// The view state of an engine state name ("StateWorking", ...); unknown names are failures.
int ViewStateFromName(std::string_view stateName);
// The number of a service file's path type: "ent" 1, "self" 2, "share_in" 4, "share_out" 8,
// anything else 2.
int PathTypeFromName(std::string_view pathType);

// A small bit array that travels with a view record. Nothing in the front end fills it; it is
// copied deeply with its record.
class CParvexBitArray {
public:
    CParvexBitArray() = default;
    virtual ~CParvexBitArray() = default;
    CParvexBitArray(const CParvexBitArray& other);
    CParvexBitArray& operator=(const CParvexBitArray& other);

    bool IsEmpty() const { return m_bytes.empty(); }
    // Sets the bytes; trailing zero bytes are dropped and the cached count is reset.
    void SetBytes(std::vector<std::uint8_t> bytes);
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    // Number of set bits (cached).
    std::int64_t Count() const;
    bool IsValid() const { return m_valid; }

private:
    std::vector<std::uint8_t> m_bytes;
    mutable std::int64_t m_count = -1;
    std::unique_ptr<std::vector<std::uint32_t>> m_words;
    bool m_valid = true;
};

// The front end's copy of a task or sub-task, decoded from the engine's JSON record.
struct CTaskViewInfo {
    bool isDownload = true;
    bool isFolder = false;
    QString sourcePath; // a download's service path
    QString targetPath; // a download's local path
    int pathType = 2;
    QString origin;
    QString taskId;
    QString groupId;
    int uploadValue = 1;
    bool isSecureTransfer = false;
    int viewState = view_state::kNone;
    std::uint64_t addTime = 0;           // milliseconds since 1970
    std::uint64_t usedTime = 0;          // tasks only
    std::uint64_t completedSubTasks = 0; // tasks only
    std::uint64_t size = 0;
    std::uint64_t subTasks = 0; // tasks only
    std::uint64_t completedBytes = 0;
    std::uint64_t speed = 0; // bytes per second
    std::uint64_t speedCopy = 0;
    int errorCode = 0;
    QString errorText;
    QString newServicePath; // tasks only
    int transferMethod = 1;
    int syncState = 1;
    CParvexBitArray progressBits;

    // The information block: copies of the two paths; a sub-task's key is its target path.
    struct Info {
        QString sourcePath;
        QString targetPath;
    } info;
};

// Decodes the engine's JSON record of a task (asTask) or of a sub-task, which lacks the
// task-only fields. A text that does not parse to an object gives the initial values.
CTaskViewInfo DecodeTaskView(std::string_view json, bool asTask);
