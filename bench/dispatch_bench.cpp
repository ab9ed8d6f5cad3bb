// One pass of the dispatcher over many tasks and over one folder task of 10,000 files. The pass
// must stay proportional to the tasks plus at most 20 sub-tasks per admitted task: the pairs
// compare 1,000 tasks with 100, and a folder task whose files are almost all completed with one
// whose files all wait (both must cost the same). Each benchmark reports the median and worst
// pass besides the mean.
#include "bench_ratio.h"

#include "engine/dispatch_task_worker.h"
#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/task_mgr.h"
#include "engine/transfer_workers.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFolderFiles = 10000;

// Every worker slot is taken and no worker can be split: passes build ranges up to the queue's
// refill level and launch nothing, the steady state of a busy engine.
class BusyWorkers final : public ITransferWorkers {
public:
    bool StartPrepare(const CTaskInfo&) override { return true; }
    bool IsPreparing(const std::string&) const override { return false; }
    void StopPrepare(const std::string&) override {}
    void StartPartWorker(const RangeRequest&) override {}
    std::size_t CountPartWorkers(const std::string& taskId) const override {
        return taskId.empty() ? 10 : 1;
    }
    void StopPartWorkers(const std::string&) override {}
    IRangeWorker* FindLargestRange() override { return nullptr; }
    std::size_t CountSubTaskWorkers(const std::string&, const std::string&) const override {
        return 0;
    }
    void StopSubTaskWorkers(const std::string&, const std::string&) override {}
    void DeleteTempFile(const CSubTaskInfo&) override {}
    int FinishDownload(const CSubTaskInfo&) override { return 0; }
};

class BenchEngine {
public:
    BenchEngine() {
        char pattern[] = "/tmp/parvex-dispatch-bench-XXXXXX";
        m_folder = mkdtemp(pattern);
        GetEngineContext().settings.SetOption(kOptionDataFolder, m_folder);
        SetEngineClockForTesting(1'700'000'000'000);
        SetTransferWorkers(&m_workers);
        m_tasks = std::make_unique<CTaskMgr>();
        GetEngineContext().taskMgr.store(m_tasks.get());
        m_dispatcher = std::make_unique<CDispatchTaskWorker>(*m_tasks);
        GetEngineContext().dispatcher.store(m_dispatcher.get());
    }
    ~BenchEngine() {
        GetEngineContext().dispatcher.store(nullptr);
        GetEngineContext().taskMgr.store(nullptr);
        m_dispatcher.reset();
        m_tasks.reset();
        SetTransferWorkers(nullptr);
        std::filesystem::remove_all(m_folder);
    }

    std::shared_ptr<CTaskEntry> AddTask(int n, std::uint32_t state) {
        CTaskInfo task;
        task.task_id = "T" + std::to_string(100000 + n);
        task.state = state;
        task.is_folder = true;
        task.add_time = 1000 + static_cast<std::uint64_t>(n);
        task.group_id = "G";
        task.box_file.path = "https://svc.test/v2/delivery/download/CODE/R" + std::to_string(n);
        task.box_file.metaurl = "https://svc.test/v2/delivery/metadata/CODE/R" + std::to_string(n);
        task.local_file.path = m_folder + "/save/R" + std::to_string(n);
        return m_tasks->AddTask(task, false, true);
    }

    void Pass() { m_dispatcher->RunPass(); }

private:
    std::string m_folder;
    BusyWorkers m_workers;
    std::unique_ptr<CTaskMgr> m_tasks;
    std::unique_ptr<CDispatchTaskWorker> m_dispatcher;
};

// Runs passes, reporting the median and the worst one in microseconds.
void TimePasses(benchmark::State& state, BenchEngine& engine) {
    engine.Pass(); // the first pass queues the ranges
    std::vector<double> passes;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        engine.Pass();
        passes.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(passes.begin(), passes.end());
    state.counters["median_us"] = passes[passes.size() / 2];
    state.counters["worst_us"] = passes.back();
}

void ManyTasks(benchmark::State& state, int count) {
    BenchEngine engine;
    for (int i = 0; i < count; ++i) {
        // Ten run, with twenty files queued between them (the refill level, so every pass
        // looks at them again); the others wait their turn.
        const bool running = i < 10;
        const auto entry = engine.AddTask(i, running ? kStateWorking : kStateWaiting);
        for (int f = 0; f < (running ? 2 : 5); ++f) {
            entry->AddSubTask("https://svc.test/v2/delivery/download/CODE/R" + std::to_string(i) +
                                  "/f" + std::to_string(f),
                              1000, false, "FP");
        }
        entry->CommitSubTasks();
    }
    TimePasses(state, engine);
}

void BM_Pass1000Tasks(benchmark::State& state) {
    ManyTasks(state, 1000);
}

void BM_Pass100Tasks(benchmark::State& state) {
    ManyTasks(state, 100);
}

void FolderTask(benchmark::State& state, int completed) {
    BenchEngine engine;
    const auto entry = engine.AddTask(0, kStateWorking);
    const std::string base = "https://svc.test/v2/delivery/download/CODE/R0/f";
    for (int f = 0; f < kFolderFiles; ++f) {
        entry->AddSubTask(base + std::to_string(f), 1000, false, "FP");
    }
    entry->CommitSubTasks();
    for (int f = 0; f < completed; ++f) {
        CSubTaskInfo sub;
        entry->GetSubTask(base + std::to_string(f), sub);
        sub.state = kStateCompleted;
        entry->StoreSubTask(sub);
    }
    entry->FlushSubTasks();
    TimePasses(state, engine);
}

void BM_FolderMostlyCompleted(benchmark::State& state) {
    FolderTask(state, kFolderFiles - 50);
}

void BM_FolderAllWaiting(benchmark::State& state) {
    FolderTask(state, 0);
}

BENCHMARK(BM_Pass1000Tasks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pass100Tasks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FolderMostlyCompleted)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FolderAllWaiting)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_Pass1000Tasks", "BM_Pass100Tasks"},
                          {"BM_FolderMostlyCompleted", "BM_FolderAllWaiting"}});
}
