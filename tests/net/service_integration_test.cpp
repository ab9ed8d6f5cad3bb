// The network layer against the local stand-in for the service: the exact requests, the
// answers of a real server, TLS, and every injected fault with its result code.
#include "net/download_request.h"
#include "net/link_auth.h"
#include "net/net_fixture.h"
#include "net/script_server.h"
#include "net/service_calls.h"
#include "net/service_request.h"

#include "engine/platform_error.h"
#include "service_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

using parvex_service::Fault;
using parvex_service::FaultKind;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kScenario = R"({
  "links": [
    {"code": "L1", "password": "pa+ss=1",
     "item": {"name": "Reports", "children": [
        {"name": "big.bin", "size": 3145729},
        {"name": "doc.docx", "size": 100, "converted": {"size": 5000, "polls": 1}},
        {"name": "many", "generate": {"count": 150, "size": 10}}]}},
    {"code": "F1", "item": {"name": "one.txt", "size": 1000}}
  ],
  "short_addresses": [{"path": "/s/abc", "code": "L1"},
                      {"path": "/s/old", "error": {"code": "20005", "msg": "removed"}}]
})";

class ServiceIntegrationTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        Start(false);
    }
    void TearDown() override {
        m_server.reset();
        SetTlsOptions({});
        NetTest::TearDown();
    }
    void Start(bool tls) {
        parvex_service::Scenario scenario;
        std::string error;
        ASSERT_TRUE(parvex_service::ParseScenario(kScenario, scenario, error)) << error;
        m_server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
        ASSERT_TRUE(m_server->Start(0, tls)) << m_server->LastError();
        m_base = m_server->BaseUrl();
    }
    std::string Token(const std::string& code = "L1") {
        std::string token;
        std::string message;
        const std::string password = code == "L1" ? "pa+ss=1" : "";
        EXPECT_EQ(AuthenticateLink(m_base, code, password, token, message), 0) << message;
        return token;
    }
    // The first page of a link folder, resolved.
    DeliveryListing List(const std::string& path, const std::string& token, int offset = 0) {
        DeliveryListing listing;
        EXPECT_EQ(GetJsonPage(m_base + "/v2/delivery/metadata/" + path + "?token=" + token, offset,
                              listing),
                  0);
        EXPECT_EQ(ResolveDeliveryListing(listing), 0);
        return listing;
    }
    DownloadRequest Range(const DeliveryMetadata& item, const std::string& token,
                          std::int64_t start, std::int64_t end) {
        DownloadRequest request;
        request.file.path = item.downloadUrl;
        request.file.metaurl = item.metadataUrl + "?token=" + token;
        request.file.size = static_cast<std::uint64_t>(item.size);
        request.rangeStart = start;
        request.rangeEnd = end;
        return request;
    }
    static std::string ReadAll(DownloadRequest& request, int& last) {
        std::string received;
        char buffer[65536];
        while ((last = ReadSome(request, buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(last));
        }
        return received;
    }

    std::unique_ptr<parvex_service::ServiceServer> m_server;
    std::string m_base;
};

TEST_F(ServiceIntegrationTest, AuthenticationSendsTheCiphertextTheServiceDecrypts) {
    Settings().SetOption(kOptionSessionText, "S-9");
    const std::string token = Token();
    EXPECT_EQ(token, m_server->Token("L1"));
    EXPECT_EQ(m_server->LastDecryptedPassword("L1"), std::optional<std::string>("pa+ss=1"));
    const auto requests = m_server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/v2/system/get_publickey");
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, "/v2/delivery/auth/L1");
    EXPECT_THAT(requests[1].body, StartsWith("password="));
    EXPECT_EQ(requests[1].body.find_first_of("+="), 8u);
    EXPECT_EQ(requests[1].Header("Cookie"), "X-VARNOK-SESS-ID=S-9;language=en");

    std::string wrong;
    std::string message;
    EXPECT_EQ(AuthenticateLink(m_base, "L1", "nope", wrong, message), 20001);
    EXPECT_EQ(wrong, "");
    EXPECT_FALSE(message.empty());
    EXPECT_FALSE(IsLinkLoginVerified(m_base, "L1"));
    m_server->SetLoginOnly("L1", true);
    EXPECT_TRUE(IsLinkLoginVerified(m_base, "L1"));
}

TEST_F(ServiceIntegrationTest, ShortAddressesResolveInBothForms) {
    ServiceReply moved;
    EXPECT_EQ(ResolveLinkAddress(m_base + "/s/abc", moved), 0);
    EXPECT_EQ(moved.resultText, m_base + "/link/view/L1");
    ServiceReply removed;
    EXPECT_EQ(ResolveLinkAddress(m_base + "/s/old", removed), 20005);
    EXPECT_EQ(removed.errorMessage, "removed");
}

TEST_F(ServiceIntegrationTest, ListingsPageAndConvertedDocumentsResolve) {
    const std::string token = Token();
    const DeliveryListing root = List("L1", token);
    EXPECT_TRUE(root.item.isFolder);
    ASSERT_EQ(root.children.size(), 3u);
    const DeliveryMetadata& doc = root.children[1];
    EXPECT_THAT(doc.downloadUrl, HasSubstr("/?source_path=/"));
    EXPECT_EQ(doc.size, 5000);

    const DeliveryListing first = List("L1/many", token);
    const DeliveryListing second = List("L1/many", token, 100);
    EXPECT_EQ(first.children.size(), 100u);
    EXPECT_EQ(second.children.size(), 50u);
    EXPECT_EQ(m_server->Requests().back().query, "token=" + token + "&offset=100");

    // The converted copy downloads with the token appended to its query.
    DownloadRequest request = Range(doc, token, 0, 5000);
    ASSERT_TRUE(OpenRange(request, false)) << request.result;
    int last = 0;
    EXPECT_EQ(ReadAll(request, last).size(), 5000u);
}

TEST_F(ServiceIntegrationTest, RangesArriveByteForByte) {
    const std::string token = Token();
    const DeliveryMetadata big = List("L1", token).children[0];
    const std::string path = "/Reports/big.bin";
    for (const auto& [start, end] :
         {std::pair<std::int64_t, std::int64_t>{0, 1048576}, {2097152, 3145729}}) {
        DownloadRequest request = Range(big, token, start, end);
        ASSERT_TRUE(OpenRange(request, false)) << request.result;
        int last = 0;
        const std::string received = ReadAll(request, last);
        EXPECT_EQ(last, 0);
        const auto expected =
            static_cast<std::size_t>(std::min<std::int64_t>(end + 1, big.size) - start);
        EXPECT_TRUE(received == parvex_service::FileContent(
                                    "L1", path, static_cast<std::uint64_t>(start), expected));
        const auto recorded = m_server->Requests().back();
        EXPECT_EQ(recorded.Header("Range"),
                  "bytes=" + std::to_string(start) + "-" + std::to_string(end));
        EXPECT_EQ(recorded.Header("x-varnokws-range"), recorded.Header("Range"));
        CloseRange(request);
    }
}

// Every fault the service can inject ends in its result code, in time.
TEST_F(ServiceIntegrationTest, InjectedFaultsGiveTheirCodes) {
    const std::string token = Token();
    const DeliveryMetadata big = List("L1", token).children[0];
    const std::string download = "/v2/delivery/download/";
    const std::string metadata = "/v2/delivery/metadata/";
    const auto open = [&](std::int64_t start, int& result) {
        DownloadRequest request = Range(big, token, start, start + 1048576);
        const bool opened = OpenRange(request, false);
        result = request.result;
        int last = 0;
        const std::string body = opened ? ReadAll(request, last) : std::string();
        if (opened && last < 0) {
            result = request.result;
        }
        return std::make_pair(opened, body.size());
    };
    struct Case {
        const char* name;
        Fault fault;
        std::int64_t start;
        int result;
    };
    Fault cut = Fault::CutAfter(download, 1000);
    Fault lying = Fault::LyingLength(download, 500);
    const Case downloads[] = {
        {"cut", cut, 0, platform_error::kConnectionAborted},
        {"lying length", lying, 0, platform_error::kConnectionAborted},
        {"ignored range", Fault::Make(download, FaultKind::IgnoreRange), 1048576, 20109},
        {"shifted range", Fault::WrongRange(download, 1, 0), 1048576, 20109},
        {"other total", Fault::WrongRange(download, 0, 5), 1048576, 20109},
        {"forbidden", Fault::Error(download, "access forbidden", "no", 403), 0, 20001},
        {"hang", Fault::Make(download, FaultKind::Hang), 0, platform_error::kTimeout},
        {"slow headers", Fault::Delay(download, 1500), 0, platform_error::kTimeout},
    };
    for (const Case& c : downloads) {
        SCOPED_TRACE(c.name);
        m_server->ClearFaults();
        m_server->AddFault(c.fault);
        QuietTimeFor(c.result == platform_error::kTimeout, 500);
        int result = 0;
        open(c.start, result);
        EXPECT_EQ(result, c.result);
    }
    QuietTimeFor(false, 0);
    m_server->ClearFaults();
    m_server->AddFault(Fault::Make(download, FaultKind::Empty206));
    int result = -1;
    const auto [opened, size] = open(0, result);
    EXPECT_TRUE(opened);
    EXPECT_EQ(size, 0u);

    const struct {
        const char* name;
        Fault fault;
        int result;
    } replies[] = {
        {"500 page", Fault::HttpStatus(metadata, 500, "<html>oops</html>"), 20002},
        {"error object", Fault::Error(metadata, "forbidden", "denied", 403), 20006},
        {"not json", Fault::Make(metadata, FaultKind::NotJson), 20002},
        {"empty", Fault::Make(metadata, FaultKind::EmptyBody), 20002},
        {"truncated", Fault::Make(metadata, FaultKind::TruncatedJson), 20002},
        {"cut", Fault::CutAfter(metadata, 10), platform_error::kConnectionAborted},
    };
    for (const auto& c : replies) {
        SCOPED_TRACE(c.name);
        m_server->ClearFaults();
        m_server->AddFault(c.fault);
        ServiceReply reply;
        EXPECT_EQ(GetJsonPage(m_base + metadata + "L1?token=" + token, 0, reply), c.result);
    }
}

TEST_F(ServiceIntegrationTest, CertificatesAreVerifiedUnlessTrustedOrSwitchedOff) {
    m_server.reset();
    Start(true);
    ServiceReply reply;
    EXPECT_EQ(GetPublicKey(m_base, reply), platform_error::kSecureFailure);
    EXPECT_THAT(m_log.Errors(), testing::Contains(HasSubstr("eCode:12175")));
    SetTlsOptions({m_server->CaFile(), false});
    EXPECT_EQ(GetPublicKey(m_base, reply), 0);
    EXPECT_FALSE(reply.resultText.empty());
    SetTlsOptions({"", true});
    EXPECT_EQ(GetPublicKey(m_base, reply), 0);
}

// Through a proxy, an HTTPS exchange starts with the proxy's answer to CONNECT; only the
// service's own reply counts.
TEST_F(ServiceIntegrationTest, HttpsThroughAProxyTunnel) {
    m_server.reset();
    Start(true);
    SetTlsOptions({m_server->CaFile(), false});
    const int servicePort = m_server->Port();
    ScriptServer proxy([servicePort](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("CONNECT ")) {
            c.Tunnel(servicePort);
        }
        return false;
    });
    Settings().SetOption(kOptionProxyServer, proxy.Url(""));
    const std::string token = Token();
    const DeliveryMetadata big = List("L1", token).children[0];
    DownloadRequest request = Range(big, token, 1048576, 2097152);
    ASSERT_TRUE(OpenRange(request, false)) << request.result;
    EXPECT_EQ(request.status, 206);
    int last = 0;
    EXPECT_EQ(ReadAll(request, last).size(), 1048577u);
    EXPECT_EQ(last, 0);
    EXPECT_THAT(proxy.Requests().front().requestLine, StartsWith("CONNECT 127.0.0.1:"));
}

} // namespace
