#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// The process-wide list of the live workers of one worker class that transfer data for a task.
// A worker enters it in its constructor and leaves it in its destructor (after
// StopForDestruction). TWorker provides `std::string TaskId() const`, safe to call from other
// threads (set before Enter and not changed after), and `void RequestStop()`.
template <typename TWorker>
class CWorkerRegistry {
public:
    void Enter(TWorker* worker) {
        std::lock_guard lock(m_mutex);
        m_workers.push_back(worker);
    }

    void Leave(TWorker* worker) {
        std::lock_guard lock(m_mutex);
        std::erase(m_workers, worker);
    }

    // Registered workers of the task; all registered workers for an empty id.
    std::size_t CountForTask(const std::string& taskId) const {
        std::lock_guard lock(m_mutex);
        if (taskId.empty()) {
            return m_workers.size();
        }
        return static_cast<std::size_t>(
            std::count_if(m_workers.begin(), m_workers.end(),
                          [&taskId](const TWorker* worker) { return worker->TaskId() == taskId; }));
    }

    // Asks every registered worker of the task to stop (an empty id matches only workers with an
    // empty id); returns how many were asked. The workers leave the registry when deleted.
    std::size_t StopForTask(const std::string& taskId) {
        std::lock_guard lock(m_mutex);
        std::size_t asked = 0;
        for (TWorker* worker : m_workers) {
            if (worker->TaskId() == taskId) {
                worker->RequestStop();
                ++asked;
            }
        }
        return asked;
    }

    // Calls visit(worker) for every registered worker, under the registry's lock: visit must not
    // take this registry's lock or wait for a worker.
    template <typename Visit>
    void ForEach(Visit visit) const {
        std::lock_guard lock(m_mutex);
        for (TWorker* worker : m_workers) {
            visit(worker);
        }
    }

private:
    mutable std::mutex m_mutex;
    std::vector<TWorker*> m_workers;
};
