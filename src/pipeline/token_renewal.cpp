#include "pipeline/token_renewal.h"

#include "engine/change_queue.h"
#include "engine/changer_task_token.h"
#include "engine/delivery_url.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "engine/task_entry.h"
#include "net/link_auth.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// A failed renewal is handed on this long: the other workers of the failed attempt share it,
// while a retry of the task (30 seconds on at the soonest) authenticates afresh.
constexpr auto kFailureShared = std::chrono::seconds(10);
constexpr int kFirstServiceCode = 20000;

// The last renewal of a task, and whether one is in flight.
struct Renewal {
    bool running = false;
    bool done = false;
    std::string staleToken; // the token the last renewal replaced
    TokenRenewal outcome;
    std::chrono::steady_clock::time_point finished;
};

struct RenewalRegistry {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Renewal> tasks; // one small record per task renewed in this run
};

RenewalRegistry& Registry() {
    // Never destroyed: a worker left running at exit may still renew.
    static auto* registry = new RenewalRegistry;
    return *registry;
}

TokenRenewal Failed(int code, std::string message) {
    TokenRenewal renewal;
    renewal.code = code;
    renewal.message = std::move(message);
    return renewal;
}

TokenRenewal Authenticate(const std::string& taskId, const std::string& staleAddress) {
    const std::shared_ptr<CTaskEntry> entry = FindEngineTask(taskId).entry;
    if (entry == nullptr) {
        return Failed(platform_error::kCancelled, std::string());
    }
    EngineLogF(kEngineLogInfo, "RenewTaskToken: task:%s: authenticating the link again",
               taskId.c_str());
    TokenRenewal renewal;
    std::string message;
    const int result =
        AuthenticateLink(DeliveryServiceBase(staleAddress), DeliveryCodeOf(staleAddress),
                         entry->Info().pass, renewal.token, message);
    if (result == 0 && !renewal.token.empty()) {
        return renewal;
    }
    if (result != 0 && result < kFirstServiceCode) {
        renewal = Failed(result, message.empty() ? GetErrorText(result) : message);
    } else {
        // The service answered but gave no usable token: the kept password no longer opens
        // the link (or the link is gone).
        std::string text = GetErrorText(engine_code::kLinkReopenRefused);
        if (!message.empty()) {
            text += ": " + message;
        }
        renewal = Failed(engine_code::kLinkReopenRefused, std::move(text));
    }
    EngineLogF(kEngineLogError, "RenewTaskToken: task:%s: failed: %d %s", taskId.c_str(),
               renewal.code, MaskSecrets(renewal.message).c_str());
    return renewal;
}

} // namespace

bool CanRenewToken(const std::string& address) {
    return !DeliveryServiceBase(address).empty() && !DeliveryCodeOf(address).empty();
}

TokenRenewal RenewTaskToken(const std::string& taskId, const std::string& staleAddress,
                            const std::atomic<bool>& stop) {
    const std::string staleToken = AddressToken(staleAddress);
    RenewalRegistry& registry = Registry();
    std::unique_lock lock(registry.mutex);
    Renewal& renewal = registry.tasks[taskId];
    bool waited = false;
    while (renewal.running) {
        if (stop.load()) {
            return Failed(platform_error::kCancelled, std::string());
        }
        waited = true;
        registry.changed.wait_for(lock, kWaitSlice);
    }
    // A success is handed on to every later refusal of the same token; a failure only for a
    // moment, to the workers that met the refusal with this one.
    if (renewal.done && renewal.staleToken == staleToken &&
        (renewal.outcome.code == 0 || waited ||
         std::chrono::steady_clock::now() - renewal.finished < kFailureShared)) {
        return renewal.outcome;
    }
    renewal.running = true;
    lock.unlock();
    TokenRenewal outcome = Authenticate(taskId, staleAddress);
    lock.lock();
    renewal.running = false;
    renewal.done = true;
    renewal.staleToken = staleToken;
    renewal.outcome = outcome;
    renewal.finished = std::chrono::steady_clock::now();
    lock.unlock();
    registry.changed.notify_all();
    if (outcome.code == 0) {
        QueueNew<CChangerTaskToken>(taskId, staleToken, outcome.token);
    }
    return outcome;
}
