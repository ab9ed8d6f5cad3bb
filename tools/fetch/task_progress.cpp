#include "task_progress.h"

#include "engine/json_fields.h"
#include "engine/json_text.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"

#include <rapidjson/document.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr auto kPrintInterval = std::chrono::seconds(1);

void PrintProgress(const std::string& taskId, const TaskStatus& status) {
    std::printf("progress %s %s %" PRIu64 "/%" PRIu64 "\n", taskId.c_str(), status.state.c_str(),
                status.completeBytes, status.size);
    std::fflush(stdout);
}

} // namespace

TaskStatus ReadTaskStatus(CTovuTransMgr& mgr, const std::string& taskId) {
    const std::string json = TakeText(mgr, mgr.GetTaskInfo(taskId.c_str()));
    TaskStatus status;
    rapidjson::Document document;
    if (!ParseJsonObject(json, document)) {
        return status;
    }
    status.state = json_fields::ReadText(document, "state");
    status.completeBytes = json_fields::ReadUint64(document, "complete_bytes");
    status.size = json_fields::ReadUint64(document, "size");
    status.errorCode = json_fields::ReadInt32(document, "error_code");
    status.errorInfo = json_fields::ReadText(document, "error_info");
    return status;
}

bool FollowTasks(CTovuTransMgr& mgr, const std::vector<std::string>& taskIds, bool quiet,
                 const std::atomic<bool>& stop, FetchFailure& failure) {
    Clock::time_point nextPrint = Clock::now();
    for (;;) {
        const bool printNow = !quiet && Clock::now() >= nextPrint;
        if (printNow) {
            nextPrint += kPrintInterval;
        }
        std::size_t completed = 0;
        for (const std::string& id : taskIds) {
            const TaskStatus status = ReadTaskStatus(mgr, id);
            if (printNow) {
                PrintProgress(id, status);
            }
            if (status.state == "StateCompleted") {
                ++completed;
            } else if (status.state == "StateError") {
                failure = {status.errorCode, status.errorInfo.empty()
                                                 ? GetErrorText(status.errorCode)
                                                 : status.errorInfo};
                return false;
            } else if (status.state.empty() || status.state == "StateNone") {
                failure = {engine_code::kMultiErrors, "the task " + id + " is gone"};
                return false;
            }
        }
        if (completed == taskIds.size()) {
            return true;
        }
        if (stop.load()) {
            failure = {platform_error::kCancelled, GetErrorText(platform_error::kCancelled)};
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}
