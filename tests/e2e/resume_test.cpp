// parvex-engine-fetch, the engine's download driver, run as a child process against an
// in-process service: a download killed part-way is resumed by a new engine on the same data
// folder, and the tool's answers (listing, exit codes, TLS flags).
#include "engine/ascii_text.h"
#include "engine/changed_id_sets.h"
#include "engine/engine_context.h"
#include "engine/engine_settings.h"
#include "engine/json_fields.h"
#include "engine/tovu_trans_mgr.h"
#include "file_content.h"
#include "service_server.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using parvex_service::Fault;
using ::testing::StartsWith;
using testing_support::ReadLines;
using testing_support::TempDir;
using testing_support::WaitUntil;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif

constexpr std::uint64_t kPartSize = 1048576;
// Not a whole number of parts, so the last part is a short one.
constexpr std::uint64_t kBigSize = (kSlowBuild ? 16 : 40) * kPartSize + 4321;
constexpr std::uint64_t kSmallSize = 200000;
constexpr std::uint64_t kPartCount = (kBigSize + kPartSize - 1) / kPartSize;
constexpr const char* kBigPath = "/v2/delivery/download/Res1/big.bin";
const std::uint64_t kBigSeed = parvex_service::ContentSeed("Res1", "/Data/big.bin");
constexpr auto kDeadline = std::chrono::seconds(240);

// The service sends 16 KiB and then waits: with ten connections at once the big file takes
// about eight seconds, long enough to stop the download part-way.
constexpr std::uint64_t kSlowChunk = 16384;
constexpr int kSlowDelayMs = static_cast<int>(80'000 * kSlowChunk / kBigSize);

std::string Scenario() {
    return R"({"links": [
      {"code": "Res1", "item": {"name": "Data", "children": [
        {"name": "big.bin", "size": )" +
           std::to_string(kBigSize) + R"(},
        {"name": "notes", "children": [{"name": "small.txt", "size": )" +
           std::to_string(kSmallSize) + R"(}]}]}},
      {"code": "Pw1", "password": "right", "item": {"name": "one.txt", "size": 70000}},
      {"code": "Gen1", "item": {"name": "Gen",
        "children": [{"name": "sub", "children": [{"name": "x.txt", "size": 5}]}],
        "generate": {"count": 150, "size": 10, "prefix": "g"}}}
    ]})";
}

std::unique_ptr<parvex_service::ServiceServer> StartService(bool tls) {
    parvex_service::Scenario scenario;
    std::string error;
    EXPECT_TRUE(parvex_service::ParseScenario(Scenario(), scenario, error)) << error;
    auto server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
    EXPECT_TRUE(server->Start(0, tls)) << server->LastError();
    return server;
}

std::string Tail(const std::vector<std::string>& lines, std::size_t count) {
    std::string text;
    for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
        text += "  " + lines[i] + "\n";
    }
    return text;
}

// parvex-engine-fetch as a child process; standard output and error go to files.
class FetchRun {
public:
    FetchRun(const std::vector<std::string>& args, std::string outPath, std::string dataDir)
        : m_process(PARVEX_ENGINE_FETCH, args, outPath, outPath + ".err"),
          m_out(std::move(outPath)), m_dataDir(std::move(dataDir)) {
        if (!m_process.Started()) {
            ADD_FAILURE() << "could not start " << PARVEX_ENGINE_FETCH;
        }
    }

    bool Ended() { return m_process.Ended(); }
    int Exit(std::chrono::milliseconds deadline = kDeadline) { return m_process.Exit(deadline); }
    void Kill() { m_process.Kill(); }

    std::vector<std::string> Lines() const { return ReadLines(m_out); }
    std::string LastLine() const {
        const std::vector<std::string> lines = Lines();
        return lines.empty() ? std::string() : lines.back();
    }
    // The bytes of the last progress line; 0 before there is one.
    std::uint64_t LastProgressBytes() const {
        const std::vector<std::string> lines = Lines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            unsigned long long bytes = 0;
            if (std::sscanf(it->c_str(), "progress %*s %*s %llu/", &bytes) == 1) {
                return bytes;
            }
        }
        return 0;
    }
    // What the run printed and what its engine logged, for a failure's message.
    std::string Describe() const {
        return "output:\n" + Tail(Lines(), 10) + "errors:\n" + Tail(ReadLines(m_out + ".err"), 10) +
               "engine log:\n" + Tail(ReadLines(m_dataDir + "/fetch.log"), 30);
    }

private:
    testing_support::ChildProcess m_process;
    std::string m_out;
    std::string m_dataDir;
};

::testing::AssertionResult FileMatches(const std::string& code, const std::string& contentPath,
                                       std::uint64_t size, const std::string& localPath) {
    const std::string local = testing_support::ReadFile(localPath);
    if (local.size() != size) {
        return ::testing::AssertionFailure()
               << localPath << " has " << local.size() << " bytes, not " << size;
    }
    if (local != parvex_service::FileContent(code, contentPath, 0, size)) {
        return ::testing::AssertionFailure() << localPath << " differs from " << contentPath;
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> TempFilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".tovutmp") {
            found.push_back(it->path().string());
        }
    }
    return found;
}

std::vector<std::string> SplitIdList(const std::string& list) {
    std::vector<std::string> ids;
    const std::string separator = kIdListSeparator;
    for (std::size_t at = 0, end; (end = list.find(separator, at)) != std::string::npos;
         at = end + separator.size()) {
        ids.push_back(list.substr(at, end - at));
    }
    return ids;
}

std::string Take(char* text) {
    const std::string copy = text != nullptr ? text : "";
    GetTransMgr()->FreeString(text);
    return copy;
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// A sub-task as the store holds it, keyed by the name of its file.
struct StoredFile {
    std::string state;
    std::set<std::uint64_t> parts; // recorded parts
    std::string validator;
};

// What the data folder recorded of its only task, read by an engine that resumes nothing.
std::map<std::string, StoredFile> ReadStoredFiles(const std::string& dataDir) {
    CTovuTransMgr* mgr = GetTransMgr();
    mgr->SetOption(kOptionDataFolder, dataDir.c_str());
    mgr->SetOption(kOptionResumeOnLoad, "false");
    std::map<std::string, StoredFile> files;
    if (mgr->StartEngine() != 0 || !WaitUntil([mgr] { return mgr->IsLoaded(); }, kDeadline)) {
        ADD_FAILURE() << "the engine did not start on " << dataDir;
        return files;
    }
    const std::vector<std::string> tasks = SplitIdList(Take(mgr->GetTaskIdList("DD", 0xFF)));
    EXPECT_EQ(tasks.size(), 1u);
    for (const std::string& task : tasks) {
        for (const std::string& path :
             SplitIdList(Take(mgr->GetSubTaskIdList(task.c_str(), 0, -1)))) {
            rapidjson::Document info;
            info.Parse(Take(mgr->GetSubTaskInfo(task.c_str(), path.c_str())).c_str());
            if (!info.IsObject() || json_fields::ReadBool(info, "is_folder")) {
                continue;
            }
            StoredFile& file = files[NameOf(path)];
            file.state = json_fields::ReadText(info, "state");
            file.validator = json_fields::ReadText(info, "validator");
            const std::string bits = json_fields::ReadText(info, "trans_progress");
            for (std::size_t i = 0; i < bits.size(); ++i) {
                if (bits[i] == '1') {
                    file.parts.insert(i);
                }
            }
        }
    }
    mgr->ShutdownEngine();
    GetEngineContext().settings.ResetToDefaults();
    return files;
}

// The parts a download request asks for. The range's end is the worker's exclusive end.
std::set<std::uint64_t> RequestedParts(const parvex_service::RecordedRequest& request,
                                       std::uint64_t size) {
    unsigned long long start = 0;
    unsigned long long end = size;
    const std::string range = request.Header("Range");
    if (!range.empty() && std::sscanf(range.c_str(), "bytes=%llu-%llu", &start, &end) != 2) {
        ADD_FAILURE() << "unreadable Range " << range;
    }
    std::set<std::uint64_t> parts;
    for (std::uint64_t part = start / kPartSize;
         part * kPartSize < std::min<std::uint64_t>(end, size); ++part) {
        parts.insert(part);
    }
    return parts;
}

// Runs statements on a stored database as another program would; a failure fails the test.
void ExecSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    char* error = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << path << ": " << (error != nullptr ? error : sqlite3_errmsg(db)) << "\n"
                      << sql;
    }
    sqlite3_free(error);
    sqlite3_close_v2(db);
}

// Whether a task record is stored yet, read as another program would while the engine writes.
bool TaskStored(const std::string& dataDir) {
    sqlite3* db = nullptr;
    bool stored = false;
    if (sqlite3_open_v2((dataDir + "/tasks.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, 1000);
        const auto found = [](void* flag, int, char**, char**) {
            *static_cast<bool*>(flag) = true;
            return 0;
        };
        sqlite3_exec(db, "SELECT 1 FROM task_v2 LIMIT 1", found, &stored, nullptr);
    }
    sqlite3_close_v2(db);
    return stored;
}

// An SQL text literal.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    }
    return quoted + "'";
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// Everything below a folder, for "nothing changed here".
std::map<std::string, std::string> TreeBelow(const std::string& folder) {
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        tree[it->path().string()] =
            it->is_regular_file() ? testing_support::ReadFile(it->path().string()) : "(folder)";
    }
    return tree;
}

// One run of the tool and how it must end.
struct ToolCase {
    const char* name;
    std::vector<std::string> args;
    int exit;
    std::string lastLine; // its beginning
};

class FetchToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = StartService(false);
        // The tool's engine logs its information lines too, for a failure's message.
        fs::create_directory(DataDir());
        testing_support::WriteFile(DataDir() + "/Information", "");
    }
    void TearDown() override {
        m_server->Stop();
        GetEngineContext().settings.ResetToDefaults();
    }

    std::string Base() const { return m_server->BaseUrl(); }
    std::string BigFile() const { return SaveDir() + "/Data/big.bin"; }
    // Downloads the link Res1 slowly and kills the tool once a third of the big file arrived:
    // `stored` is what its data folder recorded then, the big file's parts some and not all.
    void KillPartWay(std::map<std::string, StoredFile>& stored) {
        m_server->AddFault(Fault::SlowBody("/v2/delivery/download/", kSlowDelayMs, kSlowChunk));
        {
            const auto first = Run({"--link", Base(), "Res1", "--to", SaveDir()}, "first");
            const auto partWay = [&] { return first->LastProgressBytes() >= kBigSize / 3; };
            ASSERT_TRUE(WaitUntil([&] { return partWay() || first->Ended(); }, kDeadline));
            ASSERT_TRUE(partWay()) << first->Describe();
            first->Kill();
            ASSERT_FALSE(fs::exists(BigFile())) << "the download ended before it was killed";
            ASSERT_TRUE(fs::exists(BigFile() + ".tovutmp")) << first->Describe();
        }
        stored = ReadStoredFiles(DataDir());
        ASSERT_EQ(stored.count("big.bin"), 1u);
        const std::set<std::uint64_t>& recorded = stored.at("big.bin").parts;
        ASSERT_FALSE(recorded.empty()) << "a third of the file arrived, yet no part was recorded";
        ASSERT_LT(recorded.size(), kPartCount);
        m_server->ClearFaults();
        m_server->ClearRequests();
    }
    // The If-Range values the big file's downloads sent, in arrival order.
    std::vector<std::string> BigFileIfRanges() const {
        std::vector<std::string> sent;
        for (const parvex_service::RecordedRequest& request : m_server->Requests()) {
            if (request.path == kBigPath) {
                sent.push_back(request.Header("If-Range"));
            }
        }
        return sent;
    }
    std::string DataDir() const { return m_dir.File("data"); }
    std::string SaveDir() const { return m_dir.File("save"); }
    // Resumes to the end; both files must then be exact, with no temporary file left.
    void ResumeToTheEnd(const std::string& name) {
        const auto resumed = Run({"--resume", "--quiet"}, name);
        ASSERT_EQ(resumed->Exit(), 0) << resumed->Describe();
        EXPECT_EQ(resumed->LastLine(), "done") << resumed->Describe();
        EXPECT_TRUE(FileMatches("Res1", "/Data/big.bin", kBigSize, BigFile()));
        EXPECT_TRUE(FileMatches("Res1", "/Data/notes/small.txt", kSmallSize,
                                SaveDir() + "/Data/notes/small.txt"));
        EXPECT_THAT(TempFilesBelow(SaveDir()), ::testing::IsEmpty());
    }
    std::unique_ptr<FetchRun> Run(std::vector<std::string> args, const std::string& name) {
        args.insert(args.begin(), {"--data-dir", DataDir()});
        return std::make_unique<FetchRun>(args, m_dir.File(name + ".out"), DataDir());
    }
    void RunCases(const std::vector<ToolCase>& cases) {
        for (const ToolCase& c : cases) {
            SCOPED_TRACE(c.name);
            const auto run = Run(c.args, c.name);
            EXPECT_EQ(run->Exit(), c.exit) << run->Describe();
            EXPECT_THAT(run->LastLine(), StartsWith(c.lastLine));
        }
    }

    // The flags alone decide how TLS is checked.
    testing_support::ScopedEnv m_caFile{"PARVEX_CA_FILE", std::nullopt};
    testing_support::ScopedEnv m_insecure{"PARVEX_INSECURE_TLS", std::nullopt};
    TempDir m_dir;
    std::unique_ptr<parvex_service::ServiceServer> m_server;
};

TEST_F(FetchToolTest, AKilledDownloadResumesWithOnlyTheMissingParts) {
    const std::string big = BigFile();
    const std::string small = SaveDir() + "/Data/notes/small.txt";
    std::map<std::string, StoredFile> stored;
    ASSERT_NO_FATAL_FAILURE(KillPartWay(stored));
    const std::set<std::uint64_t>& recorded = stored.at("big.bin").parts;
    const std::uint64_t partCount = kPartCount;
    // The first reply's ETag was kept with the parts it covers.
    const std::string tag = parvex_service::ContentETag(kBigSeed);
    EXPECT_EQ(stored.at("big.bin").validator, tag);

    const auto resumed = Run({"--resume", "--quiet"}, "resumed");
    ASSERT_EQ(resumed->Exit(), 0) << resumed->Describe();
    EXPECT_EQ(resumed->LastLine(), "done");
    EXPECT_TRUE(FileMatches("Res1", "/Data/big.bin", kBigSize, big));
    EXPECT_TRUE(FileMatches("Res1", "/Data/notes/small.txt", kSmallSize, small));
    EXPECT_THAT(TempFilesBelow(SaveDir()), ::testing::IsEmpty());

    // Only what was not recorded at the kill is fetched again.
    std::set<std::uint64_t> fetched;
    for (const parvex_service::RecordedRequest& request : m_server->Requests()) {
        if (request.path.rfind("/v2/delivery/download/", 0) != 0) {
            continue;
        }
        const std::string name = NameOf(request.path);
        if (name != "big.bin") {
            const auto it = stored.find(name);
            EXPECT_TRUE(it == stored.end() || it->second.state != "StateCompleted")
                << name << " was complete, yet fetched again";
            continue;
        }
        for (std::uint64_t part : RequestedParts(request, kBigSize)) {
            EXPECT_EQ(recorded.count(part), 0u)
                << "part " << part
                << " was recorded, yet asked for again: " << request.Header("Range");
            fetched.insert(part);
        }
    }
    EXPECT_EQ(fetched.size() + recorded.size(), partCount) << "every missing part was fetched";
    // Each resumed range asked for the version its recorded neighbours came from.
    const std::vector<std::string> sent = BigFileIfRanges();
    EXPECT_THAT(sent, ::testing::Not(::testing::IsEmpty()));
    EXPECT_THAT(sent, ::testing::Each(tag));
}

// The big file is replaced on the service by another of the same size while the download is
// killed: the resumed download starts it again and ends with the new content alone.
TEST_F(FetchToolTest, AFileChangedWhileKilledIsFetchedAgainWhole) {
    std::map<std::string, StoredFile> stored;
    ASSERT_NO_FATAL_FAILURE(KillPartWay(stored));
    const std::string oldTag = parvex_service::ContentETag(kBigSeed);
    const std::uint64_t newSeed = parvex_service::ReplacedContentSeed(kBigSeed);
    const std::string newTag = parvex_service::ContentETag(newSeed);
    ASSERT_EQ(stored.at("big.bin").validator, oldTag);
    m_server->AddFault(Fault::Make(kBigPath, parvex_service::FaultKind::NewContent));

    const auto resumed = Run({"--resume", "--quiet"}, "resumed");
    ASSERT_EQ(resumed->Exit(), 0) << resumed->Describe();
    EXPECT_EQ(resumed->LastLine(), "done");
    std::string expected(kBigSize, '\0');
    parvex_service::FillContent(newSeed, 0, expected.data(), expected.size());
    EXPECT_TRUE(testing_support::ReadFile(BigFile()) == expected) << "not the new content alone";
    EXPECT_TRUE(FileMatches("Res1", "/Data/notes/small.txt", kSmallSize,
                            SaveDir() + "/Data/notes/small.txt"));
    EXPECT_THAT(TempFilesBelow(SaveDir()), ::testing::IsEmpty());
    const std::vector<std::string> log = ReadLines(DataDir() + "/fetch.log");
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) {
                                return line.find(
                                           "SubTaskRestart: the file changed on the server") !=
                                       std::string::npos;
                            }),
              1)
        << resumed->Describe();
    // The stored version was asked for first; once the service said it changed, only the new.
    const std::vector<std::string> sent = BigFileIfRanges();
    ASSERT_THAT(sent, ::testing::Not(::testing::IsEmpty()));
    EXPECT_EQ(sent.front(), oldTag);
    const auto firstNew = std::find(sent.begin(), sent.end(), newTag);
    ASSERT_NE(firstNew, sent.end());
    EXPECT_TRUE(
        std::all_of(firstNew, sent.end(), [&](const std::string& v) { return v == newTag; }));
}

TEST_F(FetchToolTest, KillsAtRandomMomentsNeverSpoilTheResult) {
    std::random_device seeds;
    const unsigned seed = seeds();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> afterMs(100, 2500);
    m_server->AddFault(Fault::SlowBody("/v2/delivery/download/", kSlowDelayMs, kSlowChunk));
    for (int kill = 0; kill < 4; ++kill) {
        std::vector<std::string> args = {"--resume", "--quiet"};
        if (kill == 0) {
            args = {"--link", Base(), "Res1", "--to", SaveDir(), "--quiet"};
        }
        const auto run = Run(args, "run" + std::to_string(kill));
        if (kill == 0) {
            // Killed before its task is stored, a run leaves nothing to resume: the moment
            // counts from there.
            ASSERT_TRUE(WaitUntil([&] { return TaskStored(DataDir()) || run->Ended(); }, kDeadline))
                << run->Describe();
        }
        const auto killAt =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs(random));
        WaitUntil([&] { return std::chrono::steady_clock::now() >= killAt || run->Ended(); },
                  kDeadline);
        run->Kill();
    }
    m_server->ClearFaults();
    ResumeToTheEnd("last");
}

TEST_F(FetchToolTest, TamperedStoredStateCannotSteerTheResume) {
    std::map<std::string, StoredFile> stored;
    ASSERT_NO_FATAL_FAILURE(KillPartWay(stored));
    // What the engine keeps is the user's alone: the link's token is in it, and never in the log.
    const std::string tasksDb = DataDir() + "/tasks.db";
    std::string taskFolder;
    for (const fs::directory_entry& entry : fs::directory_iterator(DataDir())) {
        if (entry.is_directory()) {
            taskFolder = entry.path().string();
        }
    }
    ASSERT_FALSE(taskFolder.empty());
    EXPECT_EQ(ModeOf(DataDir()), 0700u);
    EXPECT_EQ(ModeOf(taskFolder), 0700u);
    EXPECT_EQ(ModeOf(tasksDb), 0600u);
    EXPECT_EQ(ModeOf(taskFolder + "/subtasks.db"), 0600u);
    EXPECT_EQ(ModeOf(SaveDir() + "/Data/big.bin.tovutmp"), 0600u);
    EXPECT_THAT(testing_support::ReadFile(DataDir() + "/fetch.log"),
                ::testing::Not(::testing::HasSubstr(m_server->Token("Res1"))));
    const std::string taskId = fs::path(taskFolder).filename().string();

    // Each case starts from the state of the kill, changed as a local attacker or a broken
    // disk would change it.
    const std::string snapshot = m_dir.File("snapshot");
    fs::create_directory(snapshot);
    fs::copy(DataDir(), snapshot + "/data", fs::copy_options::recursive);
    fs::copy(SaveDir(), snapshot + "/save", fs::copy_options::recursive);
    const std::string victim = m_dir.File("victim");
    const std::string outsideFile = m_dir.File("outside.bin");
    const std::string big = "path like '%big.bin'";
    const std::string partCount = std::to_string((kBigSize + kPartSize - 1) / kPartSize);
    const auto setBits = [&](const std::string& count) {
        return "update subtask_v1 set sub_task_info = json_set(sub_task_info, "
               "'$.trans_progress', printf('%.*c', " +
               count + ", '1')) where " + big + ";";
    };
    const auto addTaskRow = [&](const std::string& id) {
        return "insert into task_v2 select " + Quoted(id) +
               ", add_time, is_upload, state, group_id, json_set(task_info, '$.task_id', " +
               Quoted(id) + "), reserved1, reserved2 from task_v2 limit 1;";
    };
    struct StoredCase {
        const char* name;
        std::string database;
        std::string sql;
        const char* logged; // how the engine tells what it refused
    };
    const std::vector<StoredCase> cases = {
        {"local_path_outside", taskFolder + "/subtasks.db",
         "update subtask_v1 set sub_task_info = json_set(sub_task_info, '$.local_file.path', " +
             Quoted(outsideFile) + ") where " + big + ";",
         "stored local path replaced"},
        {"bitmap_one_part_too_long", taskFolder + "/subtasks.db", setBits(partCount + " + 1"),
         "stored part bitmap replaced"},
        {"bitmap_one_part_too_short", taskFolder + "/subtasks.db", setBits(partCount + " - 1"),
         "stored part bitmap replaced"},
        {"task_id_up_and_out", tasksDb, addTaskRow("../victim"), "bad id skipped"},
        {"task_id_absolute", tasksDb, addTaskRow(victim), "bad id skipped"},
        {"task_id_empty", tasksDb, addTaskRow(""), "bad id skipped"},
        {"task_id_lower_case", tasksDb, addTaskRow(AsciiLower(taskId)), "bad id skipped"},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(DataDir());
        fs::remove_all(SaveDir());
        fs::copy(snapshot + "/data", DataDir(), fs::copy_options::recursive);
        fs::copy(snapshot + "/save", SaveDir(), fs::copy_options::recursive);
        fs::create_directories(victim);
        testing_support::WriteFile(victim + "/keep.txt", "keep");
        const std::map<std::string, std::string> victimBefore = TreeBelow(victim);
        ExecSql(c.database, c.sql);

        ResumeToTheEnd(c.name);
        EXPECT_THAT(testing_support::ReadFile(DataDir() + "/fetch.log"),
                    ::testing::HasSubstr(c.logged));
        EXPECT_EQ(TreeBelow(victim), victimBefore);
        EXPECT_FALSE(fs::exists(outsideFile));
        EXPECT_FALSE(fs::exists(outsideFile + ".tovutmp"));
        // No folder but the real task's was made for a stored id.
        std::vector<std::string> folders;
        for (const fs::directory_entry& entry : fs::directory_iterator(DataDir())) {
            if (entry.is_directory()) {
                folders.push_back(entry.path().filename().string());
            }
        }
        EXPECT_THAT(folders, ::testing::ElementsAre(taskId));
    }
    EXPECT_TRUE(fs::exists(victim + "/keep.txt"));
}

TEST_F(FetchToolTest, ExitStatusAndLastLineTellWhatHappened) {
    RunCases({
        {"no_request", {}, 2, ""},
        {"two_requests", {"--resume", "--url", Base() + "/x", "--to", SaveDir()}, 2, ""},
        {"resume_with_to", {"--resume", "--to", SaveDir()}, 2, ""},
        {"listing_a_url", {"--url", Base() + "/x", "--to", SaveDir(), "--print-urls"}, 2, ""},
        {"wrong_password",
         {"--link", Base(), "Pw1", "--password", "wrong", "--to", SaveDir()},
         3,
         "failed 20001 "},
        {"unknown_link", {"--link", Base(), "Nope1", "--to", SaveDir()}, 3, "failed "},
        {"nothing_stored", {"--resume"}, 0, "done"},
    });
    EXPECT_FALSE(fs::exists(SaveDir())) << "a refused request saved nothing";
}

TEST_F(FetchToolTest, PrintUrlsListsEveryFileWithItsTokenAndLocalPath) {
    const auto run = Run({"--link", Base(), "Gen1", "--print-urls"}, "urls");
    ASSERT_EQ(run->Exit(), 0) << run->Describe();
    const std::vector<std::string> lines = run->Lines();
    ASSERT_EQ(lines.size(), 151u) << "one sub-folder file and 150 over two pages";
    const std::string query = "?token=" + m_server->Token("Gen1");
    EXPECT_EQ(lines.front(),
              Base() + "/v2/delivery/download/Gen1/sub/x.txt" + query + "\tGen/sub/x.txt");
    EXPECT_EQ(lines.back(), Base() + "/v2/delivery/download/Gen1/g149" + query + "\tGen/g149");
    EXPECT_FALSE(fs::exists(SaveDir()));
}

TEST_F(FetchToolTest, TlsIsVerifiedAgainstTheNamedCertificate) {
    const auto tls = StartService(true);
    const std::string token = tls->Token("Pw1");
    const std::string url = tls->BaseUrl() + "/v2/delivery/download/Pw1?token=" + token;
    RunCases({
        {"unknown_certificate",
         {"--link", tls->BaseUrl(), "Pw1", "--password", "right", "--to", SaveDir()},
         3,
         "failed 12175 "},
        {"ca_file",
         {"--link", tls->BaseUrl(), "Pw1", "--password", "right", "--to", SaveDir(), "--ca-file",
          tls->CaFile()},
         0,
         "done"},
        {"insecure_url", {"--url", url, "--to", SaveDir() + "/url.txt", "--insecure"}, 0, "done"},
    });
    EXPECT_TRUE(FileMatches("Pw1", "/one.txt", 70000, SaveDir() + "/one.txt"));
    EXPECT_TRUE(FileMatches("Pw1", "/one.txt", 70000, SaveDir() + "/url.txt"));
}

} // namespace
