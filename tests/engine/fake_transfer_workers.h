#pragma once

#include "engine/transfer_workers.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Stands in for the download pipeline: records what the engine core asks for and keeps "part
// workers" that never move on their own. Tests end them, move their offsets, or script what a
// preparation does. Every member is safe to use from the test thread while the dispatcher runs.
class FakeTransferWorkers final : public ITransferWorkers {
public:
    struct Range {
        std::string taskId;
        std::string path;
        std::uint64_t start = 0;
        std::uint64_t current = 0;
        std::uint64_t end = 0;
        std::uint32_t partSize = 0;
        bool stopped = false;
        bool ended = false;
        std::string validator;
    };

    // Called on the dispatcher thread for every StartPrepare, with the task's record.
    void OnPrepare(std::function<void(const CTaskInfo&)> onPrepare) {
        std::lock_guard lock(m_mutex);
        m_onPrepare = std::move(onPrepare);
    }

    bool StartPrepare(const CTaskInfo& task) override {
        std::function<void(const CTaskInfo&)> onPrepare;
        {
            std::lock_guard lock(m_mutex);
            if (m_prepareFails) {
                return false;
            }
            m_prepared.push_back(task.task_id);
            onPrepare = m_onPrepare;
        }
        if (onPrepare) {
            onPrepare(task);
        }
        return true;
    }
    bool IsPreparing(const std::string& taskId) const override {
        std::lock_guard lock(m_mutex);
        return m_stillPreparing.contains(taskId);
    }
    void StopPrepare(const std::string& taskId) override {
        std::lock_guard lock(m_mutex);
        m_stoppedPrepare.push_back(taskId);
    }

    void StartPartWorker(const RangeRequest& range) override {
        std::lock_guard lock(m_mutex);
        AddLocked(Range{range.taskId, range.subTaskPath, range.start, range.start, range.end,
                        range.partSize, false, false, range.validator});
    }
    std::size_t CountPartWorkers(const std::string& taskId) const override {
        std::lock_guard lock(m_mutex);
        std::size_t count = 0;
        for (const auto& worker : m_workers) {
            if (!worker->range.ended && (taskId.empty() || worker->range.taskId == taskId)) {
                ++count;
            }
        }
        return count;
    }
    void StopPartWorkers(const std::string& taskId) override {
        std::lock_guard lock(m_mutex);
        for (const auto& worker : m_workers) {
            if (worker->range.taskId == taskId) {
                worker->range.stopped = true;
                worker->range.ended = true;
            }
        }
    }
    std::size_t CountSubTaskWorkers(const std::string& taskId,
                                    const std::string& subTaskPath) const override {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(
            std::count_if(m_workers.begin(), m_workers.end(), [&](const auto& worker) {
                return !worker->range.ended && worker->range.taskId == taskId &&
                       worker->range.path == subTaskPath;
            }));
    }
    void StopSubTaskWorkers(const std::string& taskId, const std::string& subTaskPath) override {
        std::lock_guard lock(m_mutex);
        for (const auto& worker : m_workers) {
            if (worker->range.taskId == taskId && worker->range.path == subTaskPath) {
                worker->range.stopped = true;
            }
        }
    }
    IRangeWorker* FindLargestRange() override {
        std::lock_guard lock(m_mutex);
        Worker* largest = nullptr;
        std::uint64_t longest = 0;
        for (const auto& worker : m_workers) {
            const Range& range = worker->range;
            if (range.ended || range.stopped) {
                continue;
            }
            const std::uint64_t remaining =
                range.end > range.current ? range.end - range.current : 0;
            if (largest == nullptr || remaining > longest) {
                largest = worker.get();
                longest = remaining;
            }
        }
        return largest;
    }

    void DeleteTempFile(const CSubTaskInfo& sub) override {
        std::lock_guard lock(m_mutex);
        m_deletedTemp.push_back(sub.sub_task_path);
    }
    int FinishDownload(const CSubTaskInfo& sub) override {
        std::lock_guard lock(m_mutex);
        m_finished.push_back(sub.sub_task_path);
        return m_finishError;
    }

    // Test controls and observations.
    void SetPrepareFails(bool fails) {
        std::lock_guard lock(m_mutex);
        m_prepareFails = fails;
    }
    // An earlier preparation of the task is still registered (stopping).
    void SetStillPreparing(const std::string& taskId, bool preparing) {
        std::lock_guard lock(m_mutex);
        if (preparing) {
            m_stillPreparing.insert(taskId);
        } else {
            m_stillPreparing.erase(taskId);
        }
    }
    void SetFinishError(int code) {
        std::lock_guard lock(m_mutex);
        m_finishError = code;
    }
    // Every worker ever started, in start order (split copies included).
    std::vector<Range> Ranges() const {
        std::lock_guard lock(m_mutex);
        std::vector<Range> ranges;
        for (const auto& worker : m_workers) {
            ranges.push_back(worker->range);
        }
        return ranges;
    }
    std::vector<Range> LiveRanges() const {
        std::vector<Range> live = Ranges();
        std::erase_if(live, [](const Range& range) { return range.ended; });
        return live;
    }
    // Ends the task's workers (all of them for an empty id) as if their jobs had returned.
    void EndWorkers(const std::string& taskId = std::string()) {
        std::lock_guard lock(m_mutex);
        for (const auto& worker : m_workers) {
            if (taskId.empty() || worker->range.taskId == taskId) {
                worker->range.ended = true;
            }
        }
    }
    std::vector<std::string> Prepared() const { return Copy(m_prepared); }
    std::vector<std::string> StoppedPrepare() const { return Copy(m_stoppedPrepare); }
    std::vector<std::string> DeletedTemp() const { return Copy(m_deletedTemp); }
    std::vector<std::string> Finished() const { return Copy(m_finished); }

private:
    struct Worker final : IRangeWorker {
        Worker(FakeTransferWorkers& owner, Range r) : owner(owner), range(std::move(r)) {}
        // The dispatcher calls these while it holds a pointer from FindLargestRange.
        std::uint64_t CurrentOffset() const override {
            std::lock_guard lock(owner.m_mutex);
            return range.current;
        }
        std::uint64_t EndOffset() const override {
            std::lock_guard lock(owner.m_mutex);
            return range.end;
        }
        std::uint32_t PartSize() const override {
            std::lock_guard lock(owner.m_mutex);
            return range.partSize;
        }
        bool SplitAt(std::uint64_t split) override {
            std::lock_guard lock(owner.m_mutex);
            if (range.stopped || range.ended || split <= range.current || split >= range.end) {
                return false;
            }
            Range copy = range;
            copy.start = split;
            copy.current = split;
            range.end = split;
            owner.AddLocked(std::move(copy));
            return true;
        }
        FakeTransferWorkers& owner;
        Range range;
    };

    void AddLocked(Range range) {
        m_workers.push_back(std::make_unique<Worker>(*this, std::move(range)));
    }
    std::vector<std::string> Copy(const std::vector<std::string>& values) const {
        std::lock_guard lock(m_mutex);
        return values;
    }

    mutable std::mutex m_mutex;
    std::function<void(const CTaskInfo&)> m_onPrepare;
    std::deque<std::unique_ptr<Worker>> m_workers; // never shrinks: pointers stay valid
    std::vector<std::string> m_prepared;
    std::vector<std::string> m_stoppedPrepare;
    std::vector<std::string> m_deletedTemp;
    std::vector<std::string> m_finished;
    int m_finishError = 0;
    bool m_prepareFails = false;
    std::set<std::string> m_stillPreparing;
};
