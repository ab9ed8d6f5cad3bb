#include "service_fixture.h"

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

namespace {

// parvex-service run as a process, its output going to files.
class ServiceProcess {
public:
    ServiceProcess(const std::vector<std::string>& args, const testing_support::TempDir& dir)
        : m_process(PARVEX_SERVICE_EXECUTABLE, args, dir.File("out.txt"), dir.File("err.txt")) {}

    // The exit status once the process ends (within the deadline), else -1.
    int WaitForExit() { return m_process.Exit(std::chrono::seconds(10)); }
    void Signal(int signal) const { m_process.Signal(signal); }
    std::string Out() const { return m_process.Out(); }
    std::string Err() const { return m_process.Err(); }
    bool Started() const { return m_process.Started(); }

private:
    testing_support::ChildProcess m_process;
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

TEST(ServiceProcessTest, Sigusr1ExpiresTheTokensHandedOut) {
    testing_support::TempDir dir;
    ServiceProcess process({"--scenario", PARVEX_SERVICE_DEMO_SCENARIO}, dir);
    ASSERT_TRUE(process.Started());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return process.Out().ends_with("\n"); }));
    httplib::Client client(process.Out().substr(0, process.Out().size() - 1));
    const auto token = [&client] {
        auto result = client.Post("/v2/delivery/auth/demo2024", "password=parvex",
                                  "application/x-www-form-urlencoded");
        const std::string body = result ? result->body : std::string();
        const std::size_t at = body.find("\"token\":\"");
        return at == std::string::npos ? std::string()
                                       : body.substr(at + 9, body.find('"', at + 9) - at - 9);
    };
    const auto metadataStatus = [&client](const std::string& token) {
        auto result = client.Get(("/v2/delivery/metadata/demo2024?token=" + token).c_str());
        return result ? result->status : -1;
    };
    const std::string stale = token();
    ASSERT_FALSE(stale.empty());
    EXPECT_EQ(metadataStatus(stale), 200);

    process.Signal(SIGUSR1);
    EXPECT_TRUE(testing_support::WaitUntil([&] { return metadataStatus(stale) == 401; }));
    const std::string fresh = token();
    EXPECT_NE(fresh, stale);
    EXPECT_EQ(metadataStatus(fresh), 200);

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
    {
        ServiceProcess process({"--scenario", PARVEX_SERVICE_DEMO_SCENARIO, "--throttle", "0"},
                               dir);
        EXPECT_EQ(process.WaitForExit(), 2);
        EXPECT_EQ(process.Err().rfind("parvex-service: --throttle needs a number of bytes per "
                                      "second, not \"0\"\n",
                                      0),
                  0u)
            << process.Err();
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
