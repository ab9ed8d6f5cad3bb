#include "log/log_writer.h"

#include "log/debug_trace.h"
#include "log/file_io.h"
#include "log/log_rotation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

CLogWriter& CLogWriter::Instance() {
    static CLogWriter* const writer = new CLogWriter; // lives until the process ends
    return *writer;
}

CLogWriter::CLogWriter() = default;

CLogWriter::~CLogWriter() {
    if (!Stop()) {
        // The thread still uses this object: destroying it now would be worse than waiting.
        std::unique_lock lock(m_mutex);
        m_exited.wait(lock, [this] { return !m_running; });
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CLogWriter::Push(std::string line) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(line));
}

std::size_t CLogWriter::QueuedLines() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void CLogWriter::SetPath(std::string path) {
    std::lock_guard lock(m_mutex);
    m_path = std::move(path);
}

std::string CLogWriter::Path() const {
    std::lock_guard lock(m_mutex);
    return m_path;
}

void CLogWriter::SetWaits(std::chrono::milliseconds idle, std::chrono::milliseconds retry) {
    std::lock_guard lock(m_mutex);
    m_idleWait = idle;
    m_retryPause = retry;
}

bool CLogWriter::IsRunning() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

bool CLogWriter::Start() {
    std::lock_guard lock(m_mutex);
    if (m_running) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join(); // a writer that was stopped earlier has already returned
    }
    m_finishing = false;
    m_abort = false;
    m_running = true;
    try {
        m_thread = std::thread(&CLogWriter::Run, this);
    } catch (const std::system_error& e) {
        m_running = false;
        DebugTrace("==========Create Thread Error!!!! error code: %d\n", e.code().value());
        return false;
    }
    return true;
}

bool CLogWriter::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) {
        return true;
    }
    m_finishing = true;
    m_wake.notify_all();
    if (!m_exited.wait_for(lock, bound, [this] { return !m_running; })) {
        m_abort = true;
        m_wake.notify_all();
        if (!m_exited.wait_for(lock, bound, [this] { return !m_running; })) {
            m_thread.detach();
            return false;
        }
    }
    std::thread finished = std::move(m_thread);
    lock.unlock();
    finished.join();
    return true;
}

CLogWriter::BatchResult CLogWriter::WriteBatch() {
    BatchResult result;
    const std::string path = Path();
    const int fd =
        path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        ++m_failedOpens;
        return result;
    }
    result.opened = true;
    // A log may carry names and addresses: a file left readable by an older version is
    // tightened too.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & 0777) != 0600) {
        ::fchmod(fd, 0600);
    }

    std::vector<std::string> batch;
    {
        std::lock_guard lock(m_mutex);
        const std::size_t n = std::min(m_queue.size(), kBatchLines);
        batch.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
    }
    for (std::string& line : batch) {
        if (m_abort) {
            break;
        }
        line.push_back('\n');
        // One write per line: each line reaches the file whole even if the process dies later.
        if (!WriteAll(fd, line.data(), line.size())) {
            DebugTrace("CSyncMyLog::Open write error %d\n", errno);
        }
        ++result.lines;
    }
    ::close(fd);
    if (result.lines > 0) {
        CheckLogSize(path);
    }
    return result;
}

void CLogWriter::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_abort) {
        if (m_queue.empty()) {
            if (m_finishing) {
                break;
            }
            m_wake.wait_for(lock, m_idleWait, [this] { return m_finishing || m_abort.load(); });
            continue;
        }
        lock.unlock();
        BatchResult batch;
        try {
            batch = WriteBatch();
        } catch (...) {
            // Memory ran out while writing: that batch is lost, the writer goes on.
            DebugTrace("CLogWriter: a batch failed with an exception\n");
        }
        lock.lock();
        if (!batch.opened) {
            DebugTrace("CSyncMyLog::Open file error\n");
            if (m_finishing) {
                break; // nowhere to drain to: do not hold up the exit
            }
            // The lines stay queued; pause instead of retrying in a busy loop.
            m_wake.wait_for(lock, m_retryPause, [this] { return m_finishing || m_abort.load(); });
        }
    }
    m_running = false;
    m_exited.notify_all();
}
