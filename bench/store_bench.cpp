// The task stores with a folder task of 10,000 files: writing the whole sub-task table, reading
// it back into the task's collections, and flushing 10,000 staged changes. The peer is SQLite
// itself doing the same rows with one reused prepared statement in one transaction: the floor
// that any store on this library pays.
#include "bench_ratio.h"

#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/task_mgr.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr int kSubTasks = 10000;
constexpr std::uint64_t kFileSize = 64ull << 20; // 64 parts each

std::atomic<int> g_commits{0};

void CountCommits(int, const char* text) {
    if (std::string_view(text).starts_with("CSubTaskDB::DoSave:")) {
        g_commits.fetch_add(1);
    }
}

std::string Path(int i) {
    return "/Docs/folder" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".bin";
}

// One data folder for the run, removed at exit.
class BenchFolder {
public:
    BenchFolder() {
        char pattern[] = "/tmp/parvex-bench-XXXXXX";
        m_path = mkdtemp(pattern);
        GetEngineContext().settings.SetOption(kOptionDataFolder, m_path);
    }
    ~BenchFolder() { std::filesystem::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

BenchFolder& Folder() {
    static BenchFolder folder;
    return folder;
}

CTaskInfo FolderTask(const std::string& id) {
    CTaskInfo task;
    task.task_id = id;
    task.state = kStateWorking;
    task.add_time = 1;
    task.is_folder = true;
    task.box_file.path = "/Docs";
    task.local_file.path = Folder().Path() + "/save/Docs";
    return task;
}

// A task of 10,000 files: 4,000 done, 3,000 under way with their part bitmaps, 3,000 waiting.
struct LoadedTask {
    std::unique_ptr<CTaskMgr> mgr = std::make_unique<CTaskMgr>();
    std::shared_ptr<CTaskEntry> entry;

    explicit LoadedTask(const std::string& id) {
        SetEngineClockForTesting(1'700'000'000'000); // no flush on its own while staging
        entry = mgr->AddTask(FolderTask(id), false, true);
        for (int i = 0; i < kSubTasks; ++i) {
            entry->AddSubTask(Path(i), kFileSize, false, "fingerprint-" + std::to_string(i));
        }
        entry->CommitSubTasks();
        entry->FlushSubTasks();
        for (int i = 0; i < 7000; ++i) {
            CSubTaskInfo sub;
            entry->GetSubTask(Path(i), sub);
            for (std::size_t part = 0; part < 64; part += 2) {
                sub.trans_bitmap.Set(part);
            }
            sub.state = i < 4000 ? kStateCompleted : kStateWorking;
            entry->StoreSubTask(sub);
        }
        entry->FlushSubTasks();
    }
};

void BM_SaveAll(benchmark::State& state) {
    LoadedTask task("SAVEALL");
    for (auto _ : state) {
        task.entry->CommitSubTasks();
    }
}

void BM_LoadSubTasks(benchmark::State& state) {
    LoadedTask task("LOAD");
    for (auto _ : state) {
        task.entry->LoadSubTasks();
    }
    state.counters["complete_MiB"] = static_cast<double>(task.entry->Info().complete_bytes >> 20);
}

void BM_FlushStaged(benchmark::State& state) {
    LoadedTask task("FLUSH");
    CSubTaskDB& store = const_cast<CSubTaskDB&>(task.entry->SubTaskStore());
    SetEngineLogHook(&CountCommits);
    g_commits.store(0);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 4000; i < kSubTasks; ++i) {
            SubTaskSummary summary;
            summary.path = Path(i);
            summary.state = kStateWorking;
            summary.size = kFileSize;
            summary.json = "{\"round\":" + std::to_string(round) + "}";
            store.Save(summary);
        }
        ++round;
        state.ResumeTiming();
        store.DoSave();
    }
    SetEngineLogHook(nullptr);
    state.counters["commits_per_flush"] =
        static_cast<double>(g_commits.load()) / static_cast<double>(state.iterations());
}

// The peer: plain SQLite on an identical table.
class RawDb {
public:
    explicit RawDb(const std::string& name) {
        const std::string path = Folder().Path() + "/" + name + ".db";
        sqlite3_open(path.c_str(), &m_db);
        Exec("PRAGMA synchronous = OFF; ");
        Exec(" CREATE TABLE IF NOT EXISTS [subtask_v1](   [path] text PRIMARY KEY, [state] "
             "integer, [size] bigint, [is_folder] smallint, [sub_task_info] text, [finger_mark] "
             "text, [reserved1] text, [reserved2] text ); ");
    }
    ~RawDb() { sqlite3_close(m_db); }
    void Exec(const char* sql) { sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }
    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
        return statement;
    }

    // Every row as the store writes it after a preparation.
    void WriteAll() {
        Exec("BEGIN");
        Exec("DELETE FROM subtask_v1 ;");
        sqlite3_stmt* insert = Prepare("insert into subtask_v1 values(?, ?, ?, ?, ?, ?, '', '')");
        for (int i = 0; i < kSubTasks; ++i) {
            const std::string path = Path(i);
            const std::string finger = "fingerprint-" + std::to_string(i);
            sqlite3_bind_text(insert, 1, path.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 2, kStateWaiting);
            sqlite3_bind_int64(insert, 3, static_cast<sqlite3_int64>(kFileSize));
            sqlite3_bind_int(insert, 4, 0);
            sqlite3_bind_text(insert, 5, "", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 6, finger.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        Exec("COMMIT");
    }

private:
    sqlite3* m_db = nullptr;
};

void BM_SqliteInsert(benchmark::State& state) {
    RawDb db("insert");
    for (auto _ : state) {
        db.WriteAll();
    }
}

void BM_SqliteSelect(benchmark::State& state) {
    RawDb db("select");
    db.WriteAll();
    for (auto _ : state) {
        sqlite3_stmt* select = db.Prepare("select * from subtask_v1 ;");
        std::uint64_t total = 0;
        while (sqlite3_step(select) == SQLITE_ROW) {
            std::string path(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
            std::string info(reinterpret_cast<const char*>(sqlite3_column_text(select, 4)));
            std::string finger(reinterpret_cast<const char*>(sqlite3_column_text(select, 5)));
            total += static_cast<std::uint64_t>(sqlite3_column_int64(select, 2)) + path.size() +
                     info.size() + finger.size();
        }
        sqlite3_finalize(select);
        benchmark::DoNotOptimize(total);
    }
}

void BM_SqliteUpdate(benchmark::State& state) {
    RawDb db("update");
    db.WriteAll();
    int round = 0;
    for (auto _ : state) {
        db.Exec("BEGIN");
        sqlite3_stmt* update = db.Prepare("update subtask_v1 set state=?, size=?, is_folder=?, "
                                          "sub_task_info=?, finger_mark=? where path=?");
        for (int i = 4000; i < kSubTasks; ++i) {
            const std::string path = Path(i);
            const std::string json = "{\"round\":" + std::to_string(round) + "}";
            sqlite3_bind_int(update, 1, kStateWorking);
            sqlite3_bind_int64(update, 2, static_cast<sqlite3_int64>(kFileSize));
            sqlite3_bind_int(update, 3, 0);
            sqlite3_bind_text(update, 4, json.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(update, 5, "", -1, SQLITE_STATIC);
            sqlite3_bind_text(update, 6, path.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(update);
            sqlite3_reset(update);
        }
        sqlite3_finalize(update);
        db.Exec("COMMIT");
        ++round;
    }
}

BENCHMARK(BM_SaveAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSubTasks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSelect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlushStaged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteUpdate)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    Folder();
    return RunWithRatios(argc, argv,
                         {{"BM_SaveAll", "BM_SqliteInsert"},
                          {"BM_LoadSubTasks", "BM_SqliteSelect"},
                          {"BM_FlushStaged", "BM_SqliteUpdate"}});
}
