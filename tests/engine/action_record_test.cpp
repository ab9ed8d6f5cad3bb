// Action records and the capability query against the local stand-in for the service: the
// query forms, which records reach the statistics endpoint, and what start-up asks.
#include "engine/action_record.h"
#include "engine/capability_query.h"
#include "engine/engine_context.h"
#include "engine/log_capture.h"
#include "engine/platform_error.h"
#include "engine/send_action_record_worker.h"
#include "engine/statistics_config.h"
#include "support/temp_dir.h"

#include "service_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using parvex_service::Fault;
using parvex_service::FaultKind;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The account id holds a blank, which the reports must encode like any other text.
constexpr const char* kUserScenario = R"({"storage": {"uid": "u-7", "account_id": "a 9"}})";

std::unique_ptr<parvex_service::ServiceServer> StartServer(const std::string& json) {
    parvex_service::Scenario scenario;
    std::string error;
    EXPECT_TRUE(parvex_service::ParseScenario(json, scenario, error)) << error;
    auto server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
    EXPECT_TRUE(server->Start(0, false)) << server->LastError();
    return server;
}

// Targets of the requests the server saw for one path.
std::vector<std::string> TargetsOf(const parvex_service::ServiceServer& server,
                                   const std::string& path) {
    std::vector<std::string> targets;
    for (const auto& request : server.Requests()) {
        if (request.path == path) {
            targets.push_back(request.target);
        }
    }
    return targets;
}

TEST(ActionQueryTest, EachKindHasItsFormAndTextsAreEncoded) {
    struct Case {
        ActionRecord record;
        std::optional<std::string> query;
    };
    const Case cases[] = {
        {{kActionSmallUpload, "/a.txt", 100, 7, 0, ""},
         "state=ulfile&path=/a.txt&size=100&speed=7"},
        {{kActionLargeUpload, "/b.iso", 5368709120, 1000000, 0, ""},
         "state=ul4m&path=/b.iso&size=5368709120&speed=1000000"},
        {{kActionDownload, "/Reports/a.bin", 1000, 500, 9, "x"},
         "state=dl&path=/Reports/a.bin&size=1000&speed=500"},
        {{kActionUploadFailed, "/c", 5, 5, 403, "forbidden"},
         "state=er_ul&path=/c&er_state=403&er_code=forbidden"},
        {{kActionDownloadFailed, "/d", 0, 0, -1, "12030"},
         "state=er_dl&path=/d&er_state=-1&er_code=12030"},
        // A blank, "&" or "#" taken as they are would break the URL or forge the query.
        {{kActionDownload, "/x y&size=0#1/中", 1, 1, 0, ""},
         "state=dl&path=/x%20y%26size%3d0%231/%e4%b8%ad&size=1&speed=1"},
        {{kActionDownloadFailed, "/d", 0, 0, 404, "file/folder not found"},
         "state=er_dl&path=/d&er_state=404&er_code=file/folder%20not%20found"},
        {{kActionSyncFinished, "/e", 1, 1, 0, ""}, std::nullopt},
        {{-1, "/f", 1, 1, 0, ""}, std::nullopt},
        {{6, "/g", 1, 1, 0, ""}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ActionQuery(c.record), c.query) << "kind " << c.record.kind;
    }
}

class StatisticsConfigTest : public ::testing::Test {
protected:
    void TearDown() override { SetStatisticsConfig(m_saved); }

    const StatisticsConfig m_saved = GetStatisticsConfig();
};

TEST_F(StatisticsConfigTest, OnlyAnAddressNamingTheConfiguredPublicHostIsPublic) {
    struct Case {
        std::string publicHost;
        std::string address;
        bool isPublic;
    };
    const Case cases[] = {
        {"", "", false},
        {"", "https://svc.example", false},
        {"svc.example", "", false},
        {"svc.example", "https://other.example", false},
        {"svc.example", "https://svc.example", true},
        {"svc.example", "https://svc.example:8443/path", true},
    };
    for (const Case& c : cases) {
        SetStatisticsConfig({c.publicHost, "https://st.example"});
        EXPECT_EQ(IsPublicServiceAddress(c.address), c.isPublic)
            << "host '" << c.publicHost << "' address '" << c.address << "'";
    }
}

// A service that plays both the public installation and its statistics host, and a worker
// that the test owns (auto-delete off).
class StatisticsWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetEngineContext().settings.ResetToDefaults();
        m_server = StartServer(kUserScenario);
        const std::string base = m_server->BaseUrl();
        GetEngineContext().settings.SetOption(kOptionServiceAddress, base);
        SetStatisticsConfig({"127.0.0.1", base});
        m_worker = std::make_unique<CSendActionRecordWorker>();
        m_worker->SetAutoDelete(false);
    }
    void TearDown() override {
        GetEngineContext().statisticsWorker.store(nullptr);
        m_server->Stop(); // releases a request that hangs
        m_worker.reset();
        GetEngineContext().settings.ResetToDefaults();
        SetStatisticsConfig(m_saved);
    }

    void StartAndRegister() {
        ASSERT_TRUE(m_worker->Start());
        GetEngineContext().statisticsWorker.store(m_worker.get());
    }
    // Waits until `count` statistics requests arrived and returns their targets.
    std::vector<std::string> WaitForReports(std::size_t count) {
        EXPECT_TRUE(testing_support::WaitUntil(
            [&] { return TargetsOf(*m_server, "/st.gif").size() >= count; }));
        return TargetsOf(*m_server, "/st.gif");
    }

    const StatisticsConfig m_saved = GetStatisticsConfig();
    std::unique_ptr<parvex_service::ServiceServer> m_server;
    std::unique_ptr<CSendActionRecordWorker> m_worker;
};

TEST_F(StatisticsWorkerTest, EachReportIsOneGetCarryingTheUsersIdentity) {
    StartAndRegister();
    ReportSuccess(kActionDownload, "/Reports/a.bin", 1000, 500);
    ReportFailure(kActionDownloadFailed, "/Reports/b.bin", 404, "20005");

    EXPECT_THAT(
        WaitForReports(2),
        ElementsAre("/st.gif?state=dl&path=/Reports/a.bin&size=1000&speed=500&aid=a%209&uid=u-7",
                    "/st.gif?state=er_dl&path=/Reports/b.bin&er_state=404&er_code=20005"
                    "&aid=a%209&uid=u-7"));
    EXPECT_THAT(TargetsOf(*m_server, "/v2/user/info/get"), ElementsAre("/v2/user/info/get"));
}

TEST_F(StatisticsWorkerTest, RecordsWithoutARunningWorkerAreDropped) {
    // No worker in the engine: nothing to queue on.
    ReportSuccess(kActionDownload, "/none", 1, 1);
    // A worker whose thread does not run yet drops what it is given.
    GetEngineContext().statisticsWorker.store(m_worker.get());
    ReportSuccess(kActionDownload, "/early", 1, 1);
    ASSERT_TRUE(m_worker->Start());
    ReportSuccess(kActionDownload, "/marker", 1, 1);

    // The queue keeps its order, so a record kept earlier would have arrived first.
    EXPECT_THAT(WaitForReports(1),
                ElementsAre("/st.gif?state=dl&path=/marker&size=1&speed=1&aid=a%209&uid=u-7"));
}

TEST_F(StatisticsWorkerTest, ASyncRecordIsDroppedWithoutARequest) {
    StartAndRegister();
    ReportSuccess(kActionSyncFinished, "/synced", 10, 10);
    ReportSuccess(kActionSmallUpload, "/marker", 1, 1);

    EXPECT_THAT(WaitForReports(1),
                ElementsAre("/st.gif?state=ulfile&path=/marker&size=1&speed=1&aid=a%209&uid=u-7"));
}

TEST_F(StatisticsWorkerTest, AFailedIdentityRequestStillSendsWithEmptyIds) {
    m_server->AddFault(Fault::Error("/v2/user/info/get", "Invalid session", "expired", 401));
    StartAndRegister();
    ReportSuccess(kActionDownload, "/a", 2, 3);

    EXPECT_THAT(WaitForReports(1),
                ElementsAre("/st.gif?state=dl&path=/a&size=2&speed=3&aid=&uid="));
}

TEST_F(StatisticsWorkerTest, AStopEndsASendThatGetsNoAnswer) {
    m_server->AddFault(Fault::Make("/st.gif", FaultKind::Hang));
    StartAndRegister();
    ReportSuccess(kActionDownload, "/a", 2, 3);
    ASSERT_THAT(WaitForReports(1), ::testing::SizeIs(1));

    // The unanswered GET would otherwise hold the thread for the whole receive time-out.
    EXPECT_TRUE(m_worker->StopAndWait(std::chrono::seconds(10)));
    EXPECT_FALSE(m_worker->IsRunning());
}

class CapabilityQueryTest : public ::testing::Test {
protected:
    void SetUp() override { GetEngineContext().settings.ResetToDefaults(); }
    void TearDown() override { GetEngineContext().settings.ResetToDefaults(); }

    // The query's own lines of a level (the HTTP client logs its exchanges too).
    std::vector<std::string> QueryLines(int level) const {
        std::vector<std::string> lines;
        for (const std::string& text : m_log.Texts(level)) {
            if (text.starts_with("IsUseRSyncTransfer") || text.starts_with("GetIdtSupport")) {
                lines.push_back(text);
            }
        }
        return lines;
    }

    LogCapture m_log;
};

TEST_F(CapabilityQueryTest, WithoutADefaultDataServerNothingIsAsked) {
    const auto server = StartServer(kUserScenario);
    GetEngineContext().settings.SetOption(kOptionServiceAddress, server->BaseUrl());

    EXPECT_FALSE(QueryIncrementalSync());
    EXPECT_THAT(server->Requests(), IsEmpty());
    EXPECT_THAT(QueryLines(kEngineLogInfo), ElementsAre("IsUseRSyncTransfer: false"));
    EXPECT_THAT(QueryLines(kEngineLogError), IsEmpty());
}

TEST_F(CapabilityQueryTest, BothSignatureAndPatchAreNeeded) {
    struct Case {
        const char* support;
        bool expected;
    };
    const Case cases[] = {
        {R"(["files/signature", "files/patch"])", true},
        {R"(["files/patch", "other", "files/signature"])", true},
        {R"(["files/signature"])", false},
        {R"(["files/patch", "files/signatures"])", false},
        {"[]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.support);
        m_log.Clear();
        const auto server =
            StartServer(std::string(R"({"options": {"support": )") + c.support + "}}");
        GetEngineContext().settings.SetOption(kOptionDefaultDataServer, server->BaseUrl());

        EXPECT_EQ(QueryIncrementalSync(), c.expected);
        EXPECT_THAT(TargetsOf(*server, "/v2/support"), ElementsAre("/v2/support"));
        EXPECT_THAT(QueryLines(kEngineLogInfo), ElementsAre(std::string("IsUseRSyncTransfer: ") +
                                                            (c.expected ? "true" : "false")));
    }
}

TEST_F(CapabilityQueryTest, AFailedQueryIsLoggedWithItsCodeAndMeansNo) {
    struct Case {
        std::optional<Fault> fault; // nullopt: the service is down
        int code;
    };
    const Case cases[] = {
        {std::nullopt, platform_error::kCannotConnect},
        {Fault::Error("/v2/support", "Invalid session", "expired", 401), 20003},
        {Fault::Make("/v2/support", FaultKind::NotJson), 20002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        m_log.Clear();
        const auto server = StartServer(kUserScenario);
        GetEngineContext().settings.SetOption(kOptionDefaultDataServer, server->BaseUrl());
        if (c.fault) {
            server->AddFault(*c.fault);
        } else {
            server->Stop();
        }

        EXPECT_FALSE(QueryIncrementalSync());
        EXPECT_THAT(QueryLines(kEngineLogError),
                    ElementsAre("GetIdtSupport: " + std::to_string(c.code)));
        EXPECT_THAT(QueryLines(kEngineLogInfo), ElementsAre("IsUseRSyncTransfer: false"));
    }
}

} // namespace
