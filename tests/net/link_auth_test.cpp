#include "net/link_auth.h"
#include "net/rsa_password.h"

#include "engine/base64.h"
#include "engine/engine_context.h"
#include "net/http_options.h"
#include "net/net_fixture.h"
#include "net/rsa_key_pair.h"
#include "net/script_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

TEST(RsaPasswordTest, KeysInEveryShapeEncryptForThePrivateKey) {
    const RsaKeyPair pair;
    std::string crlf = pair.PublicPem();
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
        crlf.replace(at, 1, "\r\n");
    }
    const struct {
        const char* shape;
        std::string key;
    } cases[] = {
        {"multi-line PEM", pair.PublicPem()},
        {"bare body on one line", pair.PublicBody()},
        {"markers around one line",
         "-----BEGIN PUBLIC KEY-----" + pair.PublicBody() + "-----END PUBLIC KEY-----"},
        {"CR LF lines", crlf},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        ASSERT_NE(LoadPublicKey(c.key), nullptr);
        const std::string encrypted = EncryptPassword(c.key, "pass wört");
        EXPECT_EQ(encrypted.size(), 344u);
        EXPECT_THAT(encrypted, EndsWith("=="));
        EXPECT_EQ(pair.Decrypt(Base64Decode(encrypted)), "pass wört");
    }
    EXPECT_EQ(EncryptPassword(pair.PublicPem(), std::string(246, 'x')), ""); // too long
    EXPECT_NE(EncryptPassword(pair.PublicPem(), std::string(245, 'x')), "");
    EXPECT_EQ(EncryptPassword("not a key", "p"), "");
    EXPECT_EQ(LoadPublicKey(""), nullptr);
}

// A hostile service may send a key text as long as a reply can be: it is refused before any
// work that grows with it (erasing markers one by one took hours on a few megabytes).
TEST(RsaPasswordTest, AKeyTextLongerThanAnyKeyIsRefusedUnread) {
    const RsaKeyPair pair;
    std::string markers;
    while (markers.size() < (8u << 20)) {
        markers += "-----BEGIN PUBLIC KEY-----";
    }
    const struct {
        const char* shape;
        std::string key;
    } cases[] = {
        {"key padded past the bound", pair.PublicPem() + std::string(kLargestKeyText, '\n')},
        {"megabytes of markers", markers},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        EXPECT_EQ(LoadPublicKey(c.key), nullptr);
        EXPECT_EQ(EncryptPassword(c.key, "p"), "");
    }
    EXPECT_NE(LoadPublicKey(pair.PublicPem() + std::string(kLargestKeyText / 2, '\n')), nullptr);
}

using LinkAuthTest = NetTest;

TEST_F(LinkAuthTest, ThePasswordTravelsEncryptedAndComesBackAsATokenOrAMessage) {
    const RsaKeyPair pair;
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("GET /v2/system/get_publickey")) {
            return c.Reply(200, "{\"public_key\":\"" + pair.PublicBody() + "\"}");
        }
        const std::string body = PercentDecode(r.body.substr(9));
        const std::string password = body.empty() ? "" : pair.Decrypt(Base64Decode(body));
        if (password == "right" || body == "clear" || body.empty()) {
            return c.Reply(200, "{\"token\":\"TOK\"}");
        }
        return c.Reply(200, "{\"type\":\"error\",\"code\":\"password is wrong\","
                            "\"message\":\"wrong password\"}");
    });
    const std::string base = server.Url("");
    std::string token;
    std::string message;
    EXPECT_EQ(AuthenticateLink(base, "CODE", "right", token, message), 0);
    EXPECT_EQ(token, "TOK");
    const auto posted = server.Requests().back();
    EXPECT_EQ(posted.requestLine, "POST /v2/delivery/auth/CODE HTTP/1.1");
    const std::string base64 = PercentDecode(posted.body.substr(9));
    EXPECT_EQ(base64.size(), 344u);
    const auto escaped = std::count(base64.begin(), base64.end(), '+') +
                         std::count(base64.begin(), base64.end(), '=');
    EXPECT_EQ(posted.body.size(), 9u + 344u + 2u * static_cast<std::size_t>(escaped));
    EXPECT_THAT(m_log.Count("password=***"), 1u);

    token.clear();
    EXPECT_EQ(AuthenticateLink(base, "CODE", "wrong", token, message), 20001);
    EXPECT_EQ(token, "");
    EXPECT_EQ(message, "wrong password");

    const std::size_t before = server.Requests().size();
    EXPECT_EQ(AuthenticateLink(base, "CODE", "", token, message), 0);
    ASSERT_EQ(server.Requests().size(), before + 1); // no key request
    EXPECT_EQ(server.Requests().back().body, "password=");
}

TEST_F(LinkAuthTest, WithoutAUsableKeyThePasswordIsNeverSent) {
    struct Case {
        const char* what;
        int status;
        std::string body;
        int code;
        const char* message;
    } cases[] = {
        {"error object", 404,
         R"({"type":"error","code":"file/folder not found","message":"no key here"})", 20005,
         "no key here"},
        {"empty body", 200, "", 20002, "The service's reply could not be read"},
        {"no key member", 200, "{}", 20002, "The service's reply could not be read"},
        {"unreadable key", 200, R"({"public_key":"not a key"})", 20002,
         "The service's reply could not be read"},
        {"nested too deep", 200, std::string(5 << 20, '['), 20002,
         "The service's reply could not be read"},
    };
    for (const Case& c : cases) {
        ScriptServer server([&](const ScriptServer::Request&, ScriptServer::Connection& conn) {
            return conn.Reply(c.status, c.body);
        });
        std::string token;
        std::string message;
        EXPECT_EQ(AuthenticateLink(server.Url(""), "CODE", "secret", token, message), c.code)
            << c.what;
        EXPECT_EQ(message, c.message) << c.what;
        EXPECT_EQ(token, "") << c.what;
        for (const auto& request : server.Requests()) {
            EXPECT_FALSE(request.requestLine.starts_with("POST")) << c.what;
        }
    }
}

TEST_F(LinkAuthTest, PostedCiphertextIsPercentEncodedBase64) {
    const RsaKeyPair pair;
    // The padding is random, so a few encryptions show the different characters.
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("GET /v2/system/get_publickey")) {
            return c.Reply(200, "{\"public_key\":\"" + pair.PublicBody() + "\"}");
        }
        return c.Reply(200, "{}");
    });
    std::string token;
    std::string message;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(AuthenticateLink(server.Url(""), "C", "pw", token, message), 0);
        EXPECT_EQ(token, ""); // a reply without "token"
        const std::string body = server.Requests().back().body;
        EXPECT_EQ(body.find('+'), std::string::npos);
        EXPECT_EQ(body.find('='), 8u); // only "password=" itself
        EXPECT_THAT(body, EndsWith("%3d%3d"));
        EXPECT_EQ(pair.Decrypt(Base64Decode(PercentDecode(body.substr(9)))), "pw");
    }
}

TEST_F(LinkAuthTest, LoginVerification) {
    ScriptServer server([](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.find("/ONLY") != std::string::npos) {
            return c.Reply(200, "{\"isLoginVerify\":true}");
        }
        if (r.requestLine.find("/BROKEN") != std::string::npos) {
            return c.Reply(200, "{\"type\":\"error\",\"code\":\"x\",\"isLoginVerify\":true}");
        }
        return c.Reply(200, "{\"isLoginVerify\":\"true\"}");
    });
    EXPECT_TRUE(IsLinkLoginVerified(server.Url(""), "ONLY"));
    EXPECT_FALSE(IsLinkLoginVerified(server.Url(""), "BROKEN"));
    EXPECT_FALSE(IsLinkLoginVerified(server.Url(""), "TEXT"));
    EXPECT_FALSE(IsLinkLoginVerified("http://127.0.0.1:1", "ONLY"));
    EXPECT_THAT(server.Requests()[0].requestLine,
                HasSubstr("GET /v2/delivery/is_login_verify/ONLY "));
}

} // namespace
