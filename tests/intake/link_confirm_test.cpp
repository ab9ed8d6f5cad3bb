// The add dialog's confirm sequence against the local stand-in for the service: address checks,
// short-address resolution, authentication, login-only links and the remembered address.
#include "intake/link_confirm.h"

#include "app/engine_bridge.h"
#include "app/language.h"
#include "app/settings.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "service_server.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

constexpr char kScenario[] = R"({
  "links": [
    {"code": "Open1", "item": {"name": "open.txt", "size": 10}},
    {"code": "Lock1", "password": "pw1", "item": {"name": "Locked", "folder": true}},
    {"code": "Login1", "login_only": true, "item": {"name": "inner.txt", "size": 10}}
  ],
  "short_addresses": [
    {"path": "/s/abc", "code": "Open1"},
    {"path": "/LINK/VIEW/Open1", "code": "Open1"},
    {"path": "/s/old", "error": {"code": "20005", "msg": "link removed"}}
  ]
})";

constexpr char kUnset[] = "(unset)";

std::string Remembered() {
    return ReadSetting(kSettingDeliveryUrl, kUnset);
}

class LinkConfirmTest : public ::testing::Test {
protected:
    void SetUp() override {
        ApplyLanguage(kLanguageEnglish);
        GetTransMgr()->SetOption(kOptionLanguage, "en");
        m_server = testing_support::StartScenarioServer(kScenario);
        ASSERT_TRUE(m_server);
        m_base = m_server->BaseUrl();
    }

    // "{base}" in `text` stands for the service's address.
    QString WithBase(std::string text) const {
        const std::string mark = "{base}";
        if (const std::size_t at = text.find(mark); at != std::string::npos) {
            text.replace(at, mark.size(), m_base);
        }
        return QString::fromStdString(text);
    }

    std::unique_ptr<parvex_service::ServiceServer> m_server;
    std::string m_base;
    CEngineBridge m_bridge{GetTransMgr()};
};

} // namespace

TEST(LinkAddressSplit, ServiceAddressAndDeliveryCode) {
    struct Case {
        const char* working;
        const char* serviceAddress;
        const char* deliveryCode;
    } cases[] = {
        {"https://host/link/view/CODE", "https://host", "CODE"},
        {"https://host:8443/link/view/CODE", "https://host:8443", "CODE"},
        {"https://host/link/view/CODE/", "https://host", ""},
        {"https://host/link/view/CODE?x=1", "https://host", "CODE"},
        {"https://host/link/view/CODE#top", "https://host", "CODE"},
        {"https://host/link/view/CODE?next=/a/b#c", "https://host", "CODE"},
        {"https://host?x=/link/view/CODE", "", "host"},
        {"https://host", "", "host"},
        {"https://host/a/link/view/CODE", "https://host", "CODE"},
    };
    for (const Case& c : cases) {
        const LinkParts parts = SplitLinkAddress(c.working);
        EXPECT_EQ(parts.serviceAddress, QString(c.serviceAddress)) << c.working;
        EXPECT_EQ(parts.deliveryCode, QString(c.deliveryCode)) << c.working;
    }
}

TEST_F(LinkConfirmTest, OutcomesOfTheConfirmSequence) {
    parvex_service::ServiceServer closed{parvex_service::Scenario()};
    ASSERT_TRUE(closed.Start(0, false));
    const std::string closedBase = closed.BaseUrl();
    closed.Stop();

    struct Case {
        std::string address; // "{base}": the service
        const char* password;
        ConfirmOutcome outcome;
        QString message;
        ConfirmFocus focus;
        int errorCode;
        const char* deliveryCode; // when accepted
        const char* firstTarget;  // of the first request; empty: no request at all
    } cases[] = {
        {"", "", ConfirmOutcome::kStayOpen, "Please input send link URL",
         ConfirmFocus::kLinkAddress, 0, "", ""},
        {" \t\n\u3000\u00a0", "", ConfirmOutcome::kStayOpen, "Please input send link URL",
         ConfirmFocus::kLinkAddress, 0, "", ""},
        {"://127.0.0.1/link/view/Open1", "", ConfirmOutcome::kStayOpen, "Invalid Link!",
         ConfirmFocus::kLinkAddress, 0, "", ""},
        {"127.0.0.1/link/view/Open1", "", ConfirmOutcome::kStayOpen, "Invalid Link!",
         ConfirmFocus::kLinkAddress, 0, "", ""},
        // The segment is case-sensitive: in capitals it is a short address for the service.
        {"{base}/LINK/VIEW/Open1", "", ConfirmOutcome::kAccepted, "", ConfirmFocus::kNone, 0,
         "Open1", "/LINK/VIEW/Open1"},
        {" \t{base}/s/abc \t", "", ConfirmOutcome::kAccepted, "", ConfirmFocus::kNone, 0, "Open1",
         "/s/abc"},
        {"{base}/s/old", "", ConfirmOutcome::kStayOpen, "link removed(20005)",
         ConfirmFocus::kLinkAddress, 20005, "", "/s/old"},
        {closedBase + "/s/abc", "", ConfirmOutcome::kStayOpen, "Internal error(12029)",
         ConfirmFocus::kLinkAddress, 12029, "", ""},
        {"{base}/link/view/Lock1", "wrong", ConfirmOutcome::kStayOpen,
         "The password is wrong(20001)", ConfirmFocus::kPassword, 20001, "",
         "/v2/system/get_publickey"},
        {"{base}/link/view/Lock1", "pw1", ConfirmOutcome::kAccepted, "", ConfirmFocus::kNone, 0,
         "Lock1", "/v2/system/get_publickey"},
        {"{base}/link/view/Login1", "", ConfirmOutcome::kCancelled,
         "Cannot download the link from the Link Download Tool", ConfirmFocus::kNone, 0, "",
         "/v2/delivery/auth/Login1"},
        {"{base}/link/view/Open1?x=1", "", ConfirmOutcome::kAccepted, "", ConfirmFocus::kNone, 0,
         "Open1", "/v2/delivery/auth/Open1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        TempDir home;
        ScopedEnv env("PARVEX_HOME", home.Path());
        m_server->ClearRequests();

        const LinkConfirmResult result = ConfirmLink(&m_bridge, WithBase(c.address), c.password);

        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.focus, c.focus);
        EXPECT_EQ(result.errorCode, c.errorCode);
        const auto requests = m_server->Requests();
        if (*c.firstTarget == '\0') {
            EXPECT_TRUE(requests.empty());
        } else if (!requests.empty()) {
            EXPECT_EQ(requests.front().target, c.firstTarget);
        } else {
            ADD_FAILURE() << "no request";
        }
        if (c.outcome == ConfirmOutcome::kAccepted) {
            EXPECT_EQ(result.serviceAddress.toStdString(), m_base);
            EXPECT_EQ(result.deliveryCode, QString(c.deliveryCode));
            const std::string code = QString(c.deliveryCode).section(u'?', 0, 0).toStdString();
            EXPECT_EQ(result.accessToken.toStdString(), m_server->Token(code));
            // As typed, trimmed: not the resolved address.
            EXPECT_EQ(Remembered(), WithBase(c.address).trimmed().toStdString());
        } else {
            EXPECT_EQ(Remembered(), kUnset);
        }
    }
}

TEST(LinkConfirmWithoutEngine, FailsWithCodeZeroAtTheStepThatNeedsTheService) {
    TempDir home;
    ScopedEnv env("PARVEX_HOME", home.Path());
    struct Case {
        int language;
        const char* address;
        QString message;
        ConfirmFocus focus;
    } cases[] = {
        {kLanguageEnglish, "https://host/link/view/CODE", "Internal error(0)",
         ConfirmFocus::kPassword},
        {kLanguageEnglish, "https://host/s/abc", "Internal error(0)", ConfirmFocus::kLinkAddress},
        {kLanguageChinese, "https://host/link/view/CODE", QString::fromUtf8("服务器内部错误(0)"),
         ConfirmFocus::kPassword},
        {kLanguageChinese, "", QString::fromUtf8("请输入链接地址"), ConfirmFocus::kLinkAddress},
    };
    for (const Case& c : cases) {
        ApplyLanguage(c.language);
        const LinkConfirmResult result = ConfirmLink(nullptr, c.address, "pw");
        EXPECT_EQ(result.outcome, ConfirmOutcome::kStayOpen) << c.address;
        EXPECT_EQ(result.message, c.message) << c.address;
        EXPECT_EQ(result.focus, c.focus) << c.address;
        EXPECT_EQ(result.errorCode, 0) << c.address;
    }
    EXPECT_EQ(Remembered(), kUnset);
}
