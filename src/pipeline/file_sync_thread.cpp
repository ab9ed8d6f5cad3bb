#include "pipeline/file_sync_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace file_sync_thread {
namespace {

struct SyncQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool started = false;

    void Run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return !jobs.empty(); });
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr; // what it held goes before the next wait
            lock.lock();
        }
    }
};

SyncQueue& Queue() {
    // Never destroyed: its thread waits on it until the process ends.
    static auto* queue = new SyncQueue;
    return *queue;
}

} // namespace

void Post(std::function<void()> job) {
    SyncQueue& queue = Queue();
    bool queued = false;
    {
        std::lock_guard lock(queue.mutex);
        if (!queue.started) {
            try {
                std::thread([&queue] { queue.Run(); }).detach();
                queue.started = true;
            } catch (const std::system_error&) {
                // No thread to be had: the caller waits for its own sync this once.
            }
        }
        if (queue.started) {
            queue.jobs.push_back(std::move(job));
            queued = true;
        }
    }
    if (!queued) {
        job();
        return;
    }
    queue.wake.notify_one();
}

} // namespace file_sync_thread
