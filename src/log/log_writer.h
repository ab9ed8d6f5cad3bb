#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// The queue of log lines and the one thread that moves them into the log file in batches.
// Callers only append under the queue lock; the writer opens the file once per batch and
// closes it again, so other programs may read or remove the file between batches.
class CLogWriter {
public:
    static constexpr std::size_t kBatchLines = 1001;

    struct BatchResult {
        bool opened = false;   // the file could be opened
        std::size_t lines = 0; // lines written in this batch
    };

    // The writer shared by every log object of the process. Never destroyed.
    static CLogWriter& Instance();

    CLogWriter();
    ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    void Push(std::string line);
    std::size_t QueuedLines() const;

    void SetPath(std::string path);
    std::string Path() const;

    // Starts the writer thread. False if one is already running or it cannot be created.
    bool Start();
    // Asks the writer to write every queued line and end, and joins it. A file that cannot be
    // opened ends the writer at once (its lines are lost). If the writer has not ended within
    // `bound` it is told to abandon its batch; if even that does not end it (a hung disk) it is
    // left to end with the process. True when the thread was joined.
    bool Stop(std::chrono::milliseconds bound = std::chrono::seconds(5));
    bool IsRunning() const;

    // One batch: opens the file for appending, writes up to kBatchLines queued lines (each with
    // its line feed), closes it and, when a line was written, runs the size check.
    BatchResult WriteBatch();

    // How long an idle writer waits for lines, and how long it pauses after a failed open.
    void SetWaits(std::chrono::milliseconds idle, std::chrono::milliseconds retry);
    // Number of failed opens so far (the writer pauses after each).
    std::size_t FailedOpens() const { return m_failedOpens.load(); }

private:
    void Run();

    mutable std::mutex m_mutex; // the queue lock; also guards the path and the thread state
    std::condition_variable m_wake;
    std::condition_variable m_exited;
    std::deque<std::string> m_queue;
    std::string m_path;
    std::thread m_thread;
    bool m_running = false;
    bool m_finishing = false;
    std::atomic<bool> m_abort{false};
    std::chrono::milliseconds m_idleWait{500};
    std::chrono::milliseconds m_retryPause{200};
    std::atomic<std::size_t> m_failedOpens{0};
};
