#include "engine/task_info.h"

#include "engine/engine_clock.h"
#include "engine/hex_text.h"
#include "engine/message_digest.h"
#include "engine/part_layout.h"

#include <atomic>

namespace {

std::atomic<InFlightBytesSource> g_inFlightSource{nullptr};

} // namespace

void SetInFlightBytesSource(InFlightBytesSource source) {
    g_inFlightSource.store(source);
}

void CTaskInfoBase::Reset() {
    task_id.clear();
    is_folder = false;
    is_upload = false;
    size = 0;
    state = kStateNone;
    error_code = 0;
    part_size.clear();
    // The metadata and remaining-count addresses survive: they belong to the link, not the run.
    box_file.size = 0;
    box_file.path.clear();
    box_file.pathtype.clear();
    box_file.neid.clear();
    box_file.prefixneid.clear();
    box_file.from.clear();
    box_file.rev.clear();
    local_file = LocalFileInfo();
    send_bytes = 0;
    complete_bytes = 0;
    used_time = 0;
}

void CTaskInfo::Reset() {
    CTaskInfoBase::Reset();
    add_time = 0;
    priority = 0;
    sub_task_count = 0;
    complete_sub_task_count = 0;
    reported_bytes = 0;
    error_info.clear();
}

void CTaskInfo::SetState(std::uint32_t newState) {
    if (newState == kStateWorking && state != kStateWorking) {
        reported_bytes = 0;
    }
    state = newState;
}

std::uint64_t CTaskInfo::UpdateReportedBytes() {
    const InFlightBytesSource source = g_inFlightSource.load();
    const std::uint64_t inFlight = source != nullptr ? source(task_id) : 0;
    const std::uint64_t value = complete_bytes + inFlight;
    if (value > reported_bytes) {
        reported_bytes = value;
    }
    return reported_bytes;
}

std::string CTaskInfo::MakeTaskId() const {
    const std::string text = box_file.pathtype + box_file.path + ";" + std::to_string(add_time);
    CMD5 md5;
    md5.AddData(text.data(), text.size());
    return MakeHex(md5.FinalDigest());
}

CTaskInfo MakeTaskInfo(const BoxFileInfo& box, std::string_view localPath) {
    CTaskInfo task;
    task.box_file = box;
    task.local_file.path = localPath;
    if (box.path.find("/?source_path=/") != std::string::npos) {
        task.local_file.path += ".eod";
    } else if (box.path.find("/GetWatermarkFile?url") != std::string::npos) {
        task.local_file.path += ".pdf";
    }
    task.local_file.size = 0;
    task.local_file.time.clear();
    task.add_time = EngineNow();
    task.task_id = task.MakeTaskId();
    task.state = kStateWaitPreparing;
    return task;
}

void CSubTaskInfo::Reset() {
    CTaskInfoBase::Reset();
    hash_bitmap = PartBitmap();
    validator.clear();
}

std::uint64_t CSubTaskInfo::CompleteBytes() const {
    return ::CompleteBytes(trans_bitmap, size, PartSizeFor(is_upload));
}

bool CSubTaskInfo::HasAllParts() const {
    return ::HasAllParts(trans_bitmap, size, PartSizeFor(is_upload));
}
