#include "service_fixture.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// parvex-service run as a process, its output going to files.
class ServiceProcess {
public:
    ServiceProcess(const std::vector<std::string>& args, const testing_support::TempDir& dir)
        : m_out(dir.File("out.txt")), m_err(dir.File("err.txt")) {
        std::vector<char*> argv;
        std::string program = PARVEX_SERVICE_EXECUTABLE;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~ServiceProcess() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // The exit status once the process ends (within the deadline), else -1.
    int WaitForExit() {
        int status = 0;
        const bool ended = testing_support::WaitUntil(
            [&] { return m_exited || (m_exited = ::waitpid(m_pid, &status, WNOHANG) == m_pid); });
        if (ended && WIFEXITED(status)) {
            m_status = WEXITSTATUS(status);
        }
        return ended ? m_status : -1;
    }

    void Signal(int signal) const { ::kill(m_pid, signal); }
    std::string Out() const { return testing_support::ReadFile(m_out); }
    std::string Err() const { return testing_support::ReadFile(m_err); }
    bool Started() const { return m_pid > 0; }

private:
    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = -1;
};

TEST(ServiceProcessTest, PrintsItsUrlServesAndEndsOnSigterm) {
    testing_support::TempDir dir;
    ServiceProcess process({"--scenario", PARVEX_SERVICE_DEMO_SCENARIO, "--tls"}, dir);
    ASSERT_TRUE(process.Started());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return process.Out().ends_with("\n"); }));
    // "https://127.0.0.1:PORT CAFILE"
    const std::string line = process.Out();
    const std::size_t blank = line.find(' ');
    ASSERT_NE(blank, std::string::npos) << line;
    const std::string base = line.substr(0, blank);
    const std::string caFile = line.substr(blank + 1, line.size() - blank - 2);
    EXPECT_EQ(base.rfind("https://127.0.0.1:", 0), 0u) << line;

    httplib::Client client(base);
    client.set_ca_cert_path(caFile.c_str());
    client.enable_server_certificate_verification(true);
    auto redirect = client.Get("/s/demo");
    ASSERT_TRUE(redirect) << httplib::to_string(redirect.error());
    EXPECT_EQ(redirect->status, 302);
    EXPECT_EQ(redirect->get_header_value("Location"), base + "/link/view/demo2024");

    process.Signal(SIGTERM);
    EXPECT_EQ(process.WaitForExit(), 0);
}

TEST(ServiceProcessTest, BadScenarioAndBusyPortAreReportedClearly) {
    testing_support::TempDir dir;
    testing_support::WriteFile(dir.File("bad.json"), R"({"links": [{"code": "x"}]})");
    {
        ServiceProcess process({"--scenario", dir.File("bad.json")}, dir);
        EXPECT_EQ(process.WaitForExit(), 2);
        EXPECT_EQ(process.Err(), "parvex-service: bad scenario: " + dir.File("bad.json") +
                                     ": links[0]: member \"item\" is missing\n");
    }
    parvex_service::ServiceServer holder(parvex_service::Scenario{});
    ASSERT_TRUE(holder.Start()) << holder.LastError();
    const std::string port = std::to_string(holder.Port());
    ServiceProcess process({"--scenario", PARVEX_SERVICE_DEMO_SCENARIO, "--port", port}, dir);
    EXPECT_EQ(process.WaitForExit(), 1);
    EXPECT_EQ(process.Err(),
              "parvex-service: cannot listen on 127.0.0.1:" + port + ": Address already in use\n");
}

} // namespace
