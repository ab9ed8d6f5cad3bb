#include "engine/send_action_record_worker.h"

#include "engine/engine_context.h"
#include "engine/statistics_config.h"
#include "log/format_text.h"
#include "net/http_client.h"
#include "net/service_calls.h"
#include "net/service_request.h"

#include <chrono>
#include <utility>

namespace {

constexpr std::chrono::milliseconds kIdleWait{50};

void PushToEngineWorker(ActionRecord record) {
    CSendActionRecordWorker* worker = GetEngineContext().statisticsWorker.load();
    if (worker != nullptr) {
        worker->Push(std::move(record));
    }
}

} // namespace

CSendActionRecordWorker::~CSendActionRecordWorker() {
    StopForDestruction();
}

void CSendActionRecordWorker::Push(ActionRecord record) {
    // Asked before the queue lock: RequestStop takes that lock under the thread-state lock.
    if (!IsRunning()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_stop) {
            return;
        }
        m_queue.push_back(std::move(record));
    }
    m_wake.notify_one();
}

void CSendActionRecordWorker::RequestStop() {
    {
        // Under the lock so a DoWork about to wait cannot miss the wake-up.
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
}

std::optional<ActionRecord> CSendActionRecordWorker::Take() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_queue.empty()) {
            ActionRecord record = std::move(m_queue.front());
            m_queue.pop_front();
            return record;
        }
        m_wake.wait_for(lock, kIdleWait);
    }
    return std::nullopt;
}

void CSendActionRecordWorker::DoWork() {
    ServiceReply identity;
    if (GetUserInfo(identity) != 0) {
        identity.resultText.clear();
        identity.secondResultText.clear();
    }
    // Encoded like the record's texts: the ids come from the service.
    const std::string suffix =
        FormatText("&aid=%s&uid=%s", PercentEncode(identity.secondResultText).c_str(),
                   PercentEncode(identity.resultText).c_str());
    const std::string statisticsUrl = GetStatisticsConfig().statisticsUrl;
    const std::string base = statisticsUrl + "/st.gif?";
    while (std::optional<ActionRecord> record = Take()) {
        const std::optional<std::string> query = ActionQuery(*record);
        // Without a statistics host there is nowhere to send: the record is dropped.
        if (!query || statisticsUrl.empty()) {
            continue;
        }
        CHttpClient client("GET", base + *query + suffix);
        client.SetAbortFlag(&m_stop);
        client.SendWithoutReply();
    }
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_queue.clear();
}

void ReportSuccess(std::int32_t kind, const std::string& path, std::int64_t size,
                   std::int32_t speed) {
    PushToEngineWorker({kind, path, size, speed, 0, {}});
}

void ReportFailure(std::int32_t kind, const std::string& path, std::int32_t errorState,
                   const std::string& errorCode) {
    PushToEngineWorker({kind, path, 0, 0, errorState, errorCode});
}
