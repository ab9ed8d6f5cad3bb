#include "engine/store_flusher.h"

#include <chrono>

namespace {

// Gathers the reports of several workers into one write without delaying any by much.
constexpr std::chrono::milliseconds kGatherTime{25};
// A download reports several times a second: this much quiet means none is running.
constexpr std::chrono::milliseconds kIdleTime{1000};

} // namespace

CStoreFlusher::CStoreFlusher(FlushTask flush, FlushTask release)
    : m_flush(std::move(flush)), m_release(std::move(release)) {}

CStoreFlusher::~CStoreFlusher() {
    Finish();
}

void CStoreFlusher::Request(const std::string& taskId) {
    {
        std::lock_guard lock(m_mutex);
        if (m_finishing) {
            return;
        }
        m_pending.insert(taskId);
    }
    m_wake.notify_one();
    if (!IsRunning()) {
        Start(0);
    }
}

void CStoreFlusher::Finish() {
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_wake.notify_one();
    StopForDestruction();
    std::set<std::string> left;
    if (TakePending(left)) {
        for (const std::string& taskId : left) {
            m_flush(taskId);
            m_written.insert(taskId);
        }
    }
    ReleaseAll();
}

void CStoreFlusher::ReleaseAll() {
    for (const std::string& taskId : m_written) {
        m_release(taskId);
    }
    m_written.clear();
}

bool CStoreFlusher::TakePending(std::set<std::string>& out) {
    std::lock_guard lock(m_mutex);
    out.swap(m_pending);
    m_pending.clear();
    return !out.empty();
}

void CStoreFlusher::Run(std::int32_t) {
    auto lastWrite = std::chrono::steady_clock::now();
    while (!IsStopRequested()) {
        {
            std::unique_lock lock(m_mutex);
            // The stop request does not notify this condition: look at it now and then.
            m_wake.wait_for(lock, std::chrono::milliseconds(200),
                            [this] { return !m_pending.empty() || m_finishing; });
            if (m_finishing) {
                return; // Finish lets go of the connections
            }
        }
        std::set<std::string> batch;
        if (TakePending(batch)) {
            for (const std::string& taskId : batch) {
                m_flush(taskId);
                m_written.insert(taskId);
            }
            lastWrite = std::chrono::steady_clock::now();
            WaitForStop(kGatherTime);
        } else if (!m_written.empty() &&
                   std::chrono::steady_clock::now() - lastWrite >= kIdleTime) {
            ReleaseAll();
        }
    }
}
