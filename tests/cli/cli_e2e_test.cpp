// parvex-cli run as a process against an in-process service: whole downloads checked byte for
// byte, the refusals of bad input with their messages and exit statuses, and a download killed
// part-way and resumed by a new run.
#include "file_content.h"
#include "service_server.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using parvex_service::Fault;
using ::testing::HasSubstr;
using testing_support::ChildProcess;
using testing_support::TempDir;
using testing_support::WaitUntil;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::uint64_t kBigSize = 6 * 1048576 + 777;
#else
constexpr std::uint64_t kBigSize = 12 * 1048576 + 777;
#endif

std::string Scenario() {
    return R"({"links": [
      {"code": "Fold1", "password": "pw word", "item": {"name": "Docs", "children": [
        {"name": "a.txt", "size": 1000},
        {"name": "big.bin", "size": )" +
           std::to_string(kBigSize) + R"(},
        {"name": "sub", "children": [{"name": "中文.txt", "size": 10}]},
        {"name": "none", "folder": true}]}},
      {"code": "One1", "item": {"name": "report.pdf", "size": 3000}},
      {"code": "Pw1", "password": "pw word", "item": {"name": "secret.txt", "size": 2000}},
      {"code": "Deny1", "item": {"name": "no.bin", "size": 5000}},
      {"code": "Login1", "login_only": true, "item": {"name": "x.txt", "size": 5}},
      {"code": "Outer1", "item": {"name": "Mk", "children": [
        {"name": "ok.txt", "size": 5},
        {"name": "slides.pptx", "size": 900, "converted": {"size": 600}}]}}
    ],
    "short_addresses": [{"path": "/s/f", "code": "Fold1"}]})";
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        parvex_service::Scenario scenario;
        std::string error;
        ASSERT_TRUE(parvex_service::ParseScenario(Scenario(), scenario, error)) << error;
        m_server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
        ASSERT_TRUE(m_server->Start(0, false)) << m_server->LastError();
    }
    void TearDown() override { m_server->Stop(); }

    std::string Link(const std::string& code) const {
        return m_server->BaseUrl() + "/link/view/" + code;
    }
    std::string Save(const std::string& name = "save") const { return m_dir.File(name); }

    // A run on the test's data folder, in English.
    std::unique_ptr<ChildProcess> Start(std::vector<std::string> args) {
        const std::string name = "run" + std::to_string(++m_runs);
        args.insert(args.begin(), {"--data-dir", m_dir.File("data"), "--lang", "en"});
        return std::make_unique<ChildProcess>(PARVEX_CLI, args, m_dir.File(name + ".out"),
                                              m_dir.File(name + ".err"));
    }
    struct Result {
        int exit;
        std::string out;
        std::string err;
    };
    Result Run(std::vector<std::string> args) {
        auto run = Start(std::move(args));
        const int exit = run->Exit();
        return {exit, run->Out(), run->Err()};
    }

    ::testing::AssertionResult FileMatches(const std::string& code, const std::string& contentPath,
                                           std::uint64_t size, const std::string& localPath) {
        const std::string actual = testing_support::ReadFile(localPath);
        if (!fs::is_regular_file(localPath) || actual.size() != size) {
            return ::testing::AssertionFailure()
                   << localPath << ": " << actual.size() << " bytes, expected " << size;
        }
        if (actual != parvex_service::FileContent(code, contentPath, 0, size)) {
            return ::testing::AssertionFailure() << localPath << ": content differs";
        }
        return ::testing::AssertionSuccess();
    }
    void ExpectDocsComplete(const std::string& folder) {
        EXPECT_TRUE(FileMatches("Fold1", "/Docs/a.txt", 1000, folder + "/a.txt"));
        EXPECT_TRUE(FileMatches("Fold1", "/Docs/big.bin", kBigSize, folder + "/big.bin"));
        EXPECT_TRUE(FileMatches("Fold1", "/Docs/sub/中文.txt", 10, folder + "/sub/中文.txt"));
        EXPECT_TRUE(fs::is_directory(folder + "/none"));
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            EXPECT_NE(entry.path().extension(), ".tovutmp") << entry.path();
        }
    }
    std::size_t Authentications(const std::string& code) const {
        std::size_t count = 0;
        for (const auto& request : m_server->Requests()) {
            count += request.path == "/v2/delivery/auth/" + code ? 1 : 0;
        }
        return count;
    }
    // A killed get of Fold1 whose tokens expired meanwhile; the big file stays a little slow.
    void KillGetAndExpireTokens() {
        StartAndKillSlowGet();
        m_server->ExpireTokens();
        m_server->ClearFaults();
        m_server->AddFault(Fault::SlowBody("/v2/delivery/download/Fold1/big.bin", 10));
        m_server->ClearRequests();
    }
    // The id of the first task `status` lists.
    std::string FirstTaskId() {
        const Result status = Run({"status"});
        EXPECT_EQ(status.exit, 0) << status.err;
        return status.out.substr(0, status.out.find(' '));
    }
    // A get of Fold1 killed once it has shown its progress a second time, seconds after the
    // first: the task and some of its parts are stored by then (the stores are flushed every
    // second). The big file stays slow: every later run resumes the download while it runs.
    void StartAndKillSlowGet() {
        m_server->AddFault(Fault::SlowBody("/v2/delivery/download/Fold1/big.bin", 200));
        auto get = Start({"get", Link("Fold1"), "--password", "pw word", "--to", Save()});
        const std::regex progress("Docs  [0-9]+%");
        const auto shownTwice = [&] {
            const std::string out = get->Out();
            return std::distance(std::sregex_iterator(out.begin(), out.end(), progress),
                                 std::sregex_iterator()) >= 2;
        };
        ASSERT_TRUE(
            WaitUntil([&] { return shownTwice() || get->Ended(); }, std::chrono::minutes(2)))
            << get->Out() << get->Err();
        ASSERT_FALSE(get->Ended()) << get->Out() << get->Err();
        get->Kill();
    }

    TempDir m_dir;
    std::unique_ptr<parvex_service::ServiceServer> m_server;
    int m_runs = 0;
};

TEST_F(CliTest, GetDownloadsTheWholeLinkAndSaysWhereItIs) {
    const Result get = Run({"get", Link("Fold1"), "--password", "pw word", "--to", Save()});
    ASSERT_EQ(get.exit, 0) << get.out << get.err;
    ExpectDocsComplete(Save() + "/Docs");
    EXPECT_THAT(get.out, HasSubstr("Added: /Docs → " + Save() + "/Docs\n"));
    EXPECT_THAT(get.out, HasSubstr("Docs  100%"));
    EXPECT_THAT(get.out, HasSubstr("All done. The files are in " + Save() + "\n"));
    EXPECT_EQ(get.err, "");
}

TEST_F(CliTest, SelectedItemsGetFreeNamesBesideExistingFiles) {
    fs::create_directories(Save());
    testing_support::WriteFile(Save() + "/report.pdf", "mine");
    const Result one = Run({"get", Link("One1"), "--to", Save()});
    ASSERT_EQ(one.exit, 0) << one.err;
    EXPECT_EQ(testing_support::ReadFile(Save() + "/report.pdf"), "mine");
    EXPECT_TRUE(FileMatches("One1", "/report.pdf", 3000, Save() + "/report (1).pdf"));

    // A short address, two selected items, one named relative to the link's own item.
    const Result some = Run({"get", m_server->BaseUrl() + "/s/f", "--password", "pw word", "--to",
                             Save(), "--select", "sub/中文.txt", "--select", "/Docs/a.txt"});
    ASSERT_EQ(some.exit, 0) << some.err;
    EXPECT_TRUE(FileMatches("Fold1", "/Docs/sub/中文.txt", 10, Save() + "/中文.txt"));
    EXPECT_TRUE(FileMatches("Fold1", "/Docs/a.txt", 1000, Save() + "/a.txt"));
    EXPECT_FALSE(fs::exists(Save() + "/Docs"));
}

// The engine hands back its unfinished task for the same file instead of a new one: a failed
// task is started again and followed to its new end.
TEST_F(CliTest, AFailedDownloadIsReportedAndTriedAgainByTheNextGet) {
    m_server->AddFault(
        Fault::Error("/v2/delivery/download/Deny1", "forbidden", "Not for you", 403));
    const Result first = Run({"get", Link("Deny1"), "--to", Save()});
    EXPECT_EQ(first.exit, 1) << first.out << first.err;
    EXPECT_THAT(first.err, HasSubstr("no.bin: failed（20006）：Not for you\n"));

    const Result again = Run({"get", Link("Deny1"), "--to", Save()});
    EXPECT_EQ(again.exit, 1) << again.out << again.err;
    EXPECT_THAT(again.out, HasSubstr("Added: /no.bin → " + Save() + "/no.bin\n"));
    EXPECT_THAT(again.err, HasSubstr("no.bin: failed（20006）：Not for you\n"));

    m_server->ClearFaults();
    const Result allowed = Run({"get", Link("Deny1"), "--to", Save()});
    ASSERT_EQ(allowed.exit, 0) << allowed.out << allowed.err;
    EXPECT_TRUE(FileMatches("Deny1", "/no.bin", 5000, Save() + "/no.bin"));
    EXPECT_FALSE(fs::exists(Save() + "/no (1).bin"));
}

TEST_F(CliTest, ListPrintsEveryItemWithItsPath) {
    const Result list = Run({"list", Link("Outer1")});
    ASSERT_EQ(list.exit, 0) << list.err;
    EXPECT_EQ(list.out, "dir                /Mk\n"
                        "file         1 KB  /Mk/ok.txt\n"
                        "file         1 KB  /Mk/slides.pptx  *\n");
}

TEST_F(CliTest, BadInputIsRefusedWithItsMessageAndCreatesNothing) {
    testing_support::WriteFile(m_dir.File("a-file"), "x");
    const std::string closedPort = [] {
        parvex_service::ServiceServer probe(parvex_service::Scenario{});
        EXPECT_TRUE(probe.Start(0, false));
        const std::string url = probe.BaseUrl();
        probe.Stop();
        return url;
    }();
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string message; // the start of standard error
    } cases[] = {
        {{"get", ""}, 3, "Please input send link URL\n"},
        {{"get", " \t "}, 3, "Please input send link URL\n"},
        {{"get", "://host/link/view/x"}, 3, "Invalid Link!\n"},
        {{"get", "host/link/view/x"}, 3, "Invalid Link!\n"},
        {{"get", Link("Fold1")}, 3, "The password is wrong("},
        {{"get", Link("Fold1"), "--password", "nope"}, 3, "The password is wrong("},
        {{"get", Link("Login1")}, 3, "Cannot download the link from the Link Download Tool\n"},
        {{"get", m_server->BaseUrl() + "/LINK/VIEW/One1"}, 3, ""},
        {{"get", closedPort + "/link/view/One1"}, 3, ""},
        {{"get", Link("Outer1")}, 3, "Can't download the Outer Chain from the Download Tool\n"},
        {{"get", Link("One1"), "--select", "/report.pdf/x"},
         2,
         "The link has no item /report.pdf/x\n"},
        {{"get", Link("One1"), "--to", m_dir.File("a-file")},
         2,
         "Fail to create saved path（183）：" + m_dir.File("a-file") + "\n"},
        {{"get", Link("One1"), "--to", m_dir.File("a-file") + "/below"},
         2,
         "Fail to create saved path（"},
        {{"get", Link("One1"), "--speed", "3"}, 2, "Unknown argument: --speed\n"},
        {{"pause"}, 2, "The task id is missing\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "--to") == args.end() && args[0] == "get") {
            args.insert(args.end(), {"--to", Save("never")});
        }
        const Result result = Run(args);
        const std::string what = ::testing::PrintToString(c.args) + "\n" + result.err;
        EXPECT_EQ(result.exit, c.exit) << what;
        EXPECT_EQ(result.err.rfind(c.message, 0), 0u) << what;
        EXPECT_FALSE(result.err.empty()) << what;
        EXPECT_EQ(result.out, "") << what;
        EXPECT_FALSE(fs::exists(Save("never"))) << what;
    }
    EXPECT_FALSE(fs::exists(m_dir.File("a-file") + "/below"));
}

TEST_F(CliTest, AKilledDownloadIsResumedToExactFiles) {
    StartAndKillSlowGet();
    const std::string id = FirstTaskId();
    ASSERT_FALSE(id.empty());

    // Still slowed a little: a task that completes before resume has read the stored tasks is
    // not shown (completed tasks found at start are only cleared away).
    m_server->ClearFaults();
    m_server->AddFault(Fault::SlowBody("/v2/delivery/download/Fold1/big.bin", 10));
    const Result resume = Run({"resume"});
    ASSERT_EQ(resume.exit, 0) << resume.out << resume.err;
    EXPECT_THAT(resume.out, HasSubstr("Docs  100%"));
    ExpectDocsComplete(Save() + "/Docs");
    EXPECT_EQ(Run({"status"}).out, "No tasks\n");
}

TEST_F(CliTest, ResumeRenewsTokensThatExpiredMeanwhileWithTheStoredPassword) {
    KillGetAndExpireTokens();
    const Result resume = Run({"resume"});
    ASSERT_EQ(resume.exit, 0) << resume.out << resume.err;
    ExpectDocsComplete(Save() + "/Docs");
    EXPECT_EQ(Authentications("Fold1"), 1u);
    EXPECT_EQ(m_server->LastDecryptedPassword("Fold1"), std::optional<std::string>("pw word"));
}

// The link's task is found although its folder already exists: no second copy beside it.
TEST_F(CliTest, GetOfALinkWhoseTokenExpiredGoesOnInItsUnfinishedTask) {
    KillGetAndExpireTokens();
    const Result get = Run({"get", Link("Fold1"), "--password", "pw word", "--to", Save()});
    ASSERT_EQ(get.exit, 0) << get.out << get.err;
    EXPECT_THAT(get.out, HasSubstr("Added: /Docs → " + Save() + "/Docs\n"));
    ExpectDocsComplete(Save() + "/Docs");
    EXPECT_FALSE(fs::exists(Save() + "/Docs (1)"));
    EXPECT_EQ(Run({"status"}).out, "No tasks\n");
}

TEST_F(CliTest, PausedTasksWaitForTheirIdAndRemovedOnesLeaveNoTemporaryFile) {
    StartAndKillSlowGet();
    const std::string id = FirstTaskId();
    ASSERT_FALSE(id.empty());

    const Result pause = Run({"pause", id});
    ASSERT_EQ(pause.exit, 0) << pause.err;
    EXPECT_EQ(pause.out, "Paused: " + id + "\n");
    EXPECT_EQ(Run({"resume"}).out, "No tasks\n");
    EXPECT_THAT(Run({"status"}).out, HasSubstr(id + "  Docs  "));

    const Result remove = Run({"remove", id});
    ASSERT_EQ(remove.exit, 0) << remove.err;
    EXPECT_EQ(remove.out, "Removed: " + id + "\n");
    EXPECT_FALSE(fs::exists(Save() + "/Docs/big.bin.tovutmp"));
    EXPECT_EQ(Run({"status"}).out, "No tasks\n");

    const Result again = Run({"remove", id});
    EXPECT_EQ(again.exit, 2);
    EXPECT_EQ(again.err.rfind("No task with the id " + id + "\n", 0), 0u) << again.err;
}

TEST_F(CliTest, ASecondRunOnTheSameDataFolderSaysSo) {
    StartAndKillSlowGet();
    auto first = Start({"resume"});
    ASSERT_TRUE(WaitUntil([&] { return !first->Out().empty() || first->Ended(); }));
    const Result second = Run({"status"});
    EXPECT_EQ(second.exit, 1);
    EXPECT_EQ(second.err, "Another copy of the program is already using this data folder(20110)\n");
    first->Signal(SIGINT);
    EXPECT_EQ(first->Exit(), 130) << first->Err();
    EXPECT_THAT(first->Err(), HasSubstr("Interrupted. Run parvex-cli resume to continue."));
}

// parvex-cli on a pseudo-terminal: it asks for the missing password without echoing it and
// redraws its progress lines in place.
TEST_F(CliTest, OnATerminalItAsksForThePasswordAndRedrawsItsLines) {
    // Everything the child needs is made before the fork: it may only exec.
    const std::string dataDir = m_dir.File("data");
    const std::string link = Link("Pw1");
    const std::string save = Save();
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(PARVEX_CLI, PARVEX_CLI, "--data-dir", dataDir.c_str(), "--lang", "en", "get",
              link.c_str(), "--to", save.c_str(), nullptr);
        _exit(127);
    }
    // The terminal's whole output; reading stops at the end of the child's side.
    std::string output;
    bool answered = false;
    const auto readSome = [&] {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0) {
                return true;
            }
            output.append(buffer, static_cast<std::size_t>(got));
        }
        return false;
    };
    const bool ended = WaitUntil(
        [&] {
            if (readSome()) {
                return true;
            }
            if (!answered && output.find("Send Link Password：") != std::string::npos) {
                const std::string typed = "pw word\n";
                EXPECT_EQ(write(master, typed.data(), typed.size()),
                          static_cast<ssize_t>(typed.size()));
                answered = true;
            }
            return false;
        },
        std::chrono::minutes(2));
    if (!ended) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    ASSERT_TRUE(ended) << output;
    EXPECT_TRUE(answered) << output;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_EQ(output.find("pw word"), std::string::npos) << "the password was echoed:\n" << output;
    EXPECT_THAT(output, HasSubstr("\x1b[K"));
    EXPECT_THAT(output, HasSubstr("secret.txt  100%"));
    EXPECT_TRUE(FileMatches("Pw1", "/secret.txt", 2000, Save() + "/secret.txt"));
}

} // namespace
