#pragma once

#include "engine/box_file_info.h"
#include "engine/part_bitmap.h"
#include "engine/task_state.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The records of a task (one item the user asked to transfer) and of its sub-tasks (every file
// and folder inside it). Plain values: threads copy them, change the copy and hand it back, so
// nothing in a record points anywhere else.
class CTaskInfoBase {
public:
    virtual ~CTaskInfoBase() = default;

    // The record's JSON text (UTF-8, compact).
    virtual std::string ToJson() const = 0;
    // Reads a JSON text; on false the record is exactly as it was before.
    virtual bool FromJson(std::string_view json) = 0;
    virtual void Reset();

    std::string task_id;
    bool is_folder = false;
    bool is_upload = false;
    std::uint64_t size = 0;
    std::uint32_t state = kStateNone;
    BoxFileInfo box_file;
    LocalFileInfo local_file;
    std::int32_t error_code = 0;
    std::string error_info;
    std::vector<std::int32_t> part_size; // kept for the upload side, stored unchanged
    std::uint64_t send_bytes = 0;
    std::uint64_t complete_bytes = 0; // task: bytes of its complete sub-tasks
    std::uint64_t used_time = 0;      // milliseconds spent Working
    std::int32_t transmethod = 1;     // 4 marks an incremental synchronisation
    std::int32_t rsyncstate = 1;
    bool is_sectrans = false;
    std::string data_server;

    bool operator==(const CTaskInfoBase&) const = default;

protected:
    CTaskInfoBase() = default;
    CTaskInfoBase(const CTaskInfoBase&) = default;
    CTaskInfoBase& operator=(const CTaskInfoBase&) = default;
};

class CTaskInfo : public CTaskInfoBase {
public:
    CTaskInfo() = default;
    CTaskInfo(const CTaskInfo&) = default;
    CTaskInfo& operator=(const CTaskInfo&) = default;

    std::string ToJson() const override;
    bool FromJson(std::string_view json) override;
    void Reset() override;

    // Entering Working starts the reported progress again from 0.
    void SetState(std::uint32_t newState);
    // Raises the reported bytes to the completed bytes plus the bytes in flight for the task;
    // they never go down while the task runs. Returns the new value.
    std::uint64_t UpdateReportedBytes();
    // MD5 of pathtype, path, ";" and add_time, as 32 upper-case hex digits.
    std::string MakeTaskId() const;

    std::uint64_t add_time = 0; // engine clock, milliseconds since 1970
    std::int32_t priority = 0;
    std::uint32_t sub_task_count = 0;
    std::uint32_t complete_sub_task_count = 0;
    std::string group_id;
    std::uint64_t retry_time = 0; // seconds since 1970; not stored
    std::string new_box_path;
    std::string pass; // the link password, in clear in memory only
    std::uint64_t reported_bytes = 0;
    std::string task_data_server; // the task's own data server, the one its JSON carries

    bool operator==(const CTaskInfo&) const = default;
};

class CSubTaskInfo : public CTaskInfoBase {
public:
    CSubTaskInfo() = default;
    CSubTaskInfo(const CSubTaskInfo&) = default;
    CSubTaskInfo& operator=(const CSubTaskInfo&) = default;

    std::string ToJson() const override;
    bool FromJson(std::string_view json) override;
    void Reset() override;

    // Bytes covered by the transfer bitmap.
    std::uint64_t CompleteBytes() const;
    // Every part of the file has arrived (or been sent).
    bool HasAllParts() const;

    PartBitmap hash_bitmap;
    std::string sub_task_path; // the sub-task's key inside its task: the item's service path
    PartBitmap trans_bitmap;
    std::uint64_t add_time = 0;
    // The validator of the file version the recorded parts belong to (file_validator.h); empty
    // until a reply gave one, or when the service sends none.
    std::string validator;

    bool operator==(const CSubTaskInfo&) const = default;
};

// How a task keeps each of its sub-tasks, and what the sub-task table stores.
struct SubTaskSummary {
    std::string path;
    std::uint32_t state = kStateNone;
    std::uint64_t size = 0;
    std::string json; // the sub-task's JSON text, may be empty
    bool is_folder = false;
    std::string finger_mark;
    std::int32_t transmethod = 1; // 1: no override
    std::int32_t rsyncstate = 1;  // 1: no override
    std::uint64_t add_time = 0;

    bool operator==(const SubTaskSummary&) const = default;
};

// A new download task for an item of the service, saved to localPath.
CTaskInfo MakeTaskInfo(const BoxFileInfo& box, std::string_view localPath);

// Bytes in flight for a task id, provided by the network layer; until one is installed, none.
using InFlightBytesSource = std::uint64_t (*)(const std::string& taskId);
void SetInFlightBytesSource(InFlightBytesSource source);
