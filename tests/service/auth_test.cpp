#include "service_fixture.h"
#include "url_text.h"

#include <rapidjson/document.h>

#include <gtest/gtest.h>

namespace {

using service_testing::EncryptPassword;
using service_testing::ServiceTest;

constexpr const char* kPassword = "pa ss+w/ö";

class AuthTest : public ServiceTest {
protected:
    struct Answer {
        int status = 0;
        std::string token;
        std::string code; // error code
    };

    // Posts the form body "password=" + the percent-encoded text, as the client does.
    Answer Authenticate(const std::string& code, const std::string& text) {
        Answer answer;
        auto result = Client()->Post(("/v2/delivery/auth/" + code).c_str(),
                                     "password=" + parvex_service::PercentEncode(text),
                                     "application/x-www-form-urlencoded");
        if (!result) {
            ADD_FAILURE() << httplib::to_string(result.error());
            return answer;
        }
        answer.status = result->status;
        rapidjson::Document body;
        body.Parse(result->body.c_str());
        if (body.IsObject() && body.HasMember("token")) {
            answer.token = body["token"].GetString();
        }
        if (body.IsObject() && body.HasMember("code")) {
            answer.code = body["code"].GetString();
        }
        return answer;
    }

    std::string FetchPublicKey() {
        auto result = Client()->Get("/v2/system/get_publickey");
        EXPECT_TRUE(result && result->status == 200);
        rapidjson::Document body;
        body.Parse(result ? result->body.c_str() : "");
        return body.IsObject() && body.HasMember("public_key") ? body["public_key"].GetString()
                                                               : std::string();
    }
};

// The key as the client rebuilds it from a bare Base64 body: lines of 64 and marker lines.
std::string WrapPem(const std::string& body) {
    std::string pem = "-----BEGIN PUBLIC KEY-----\n";
    for (std::size_t i = 0; i < body.size(); i += 64) {
        pem += body.substr(i, 64) + "\n";
    }
    return pem + "-----END PUBLIC KEY-----\n";
}

TEST_F(AuthTest, EncryptedPasswordIsDecryptedAndEarnsTheToken) {
    StartService();
    const std::string key = FetchPublicKey();
    EXPECT_EQ(key, Server().PublicKeyPem());
    ASSERT_EQ(key.rfind("-----BEGIN PUBLIC KEY-----\n", 0), 0u);

    const std::string cipher = EncryptPassword(key, kPassword);
    ASSERT_EQ(cipher.size(), 344u); // 256 bytes
    const Answer answer = Authenticate("L1", cipher);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.token, Server().Token("L1"));
    EXPECT_EQ(Server().LastDecryptedPassword("L1"), std::optional<std::string>(kPassword));
    // The form body went out percent-encoded: "+" and "=" of the Base64 as %2b and %3d.
    const std::string body = Server().Requests().back().body;
    EXPECT_EQ(body, "password=" + parvex_service::PercentEncode(cipher));
    EXPECT_NE(body.find("%3d"), std::string::npos);
}

TEST_F(AuthTest, BareBase64KeyWorksOnceWrapped) {
    StartService(R"({"options": {"public_key": "base64"},
                     "links": [{"code": "K", "password": "secret",
                                "item": {"name": "a", "size": 1}}]})");
    const std::string key = FetchPublicKey();
    EXPECT_EQ(key.find('\n'), std::string::npos);
    EXPECT_EQ(key.find("-----"), std::string::npos);
    const Answer answer = Authenticate("K", EncryptPassword(WrapPem(key), "secret"));
    EXPECT_EQ(answer.token, Server().Token("K"));
    EXPECT_EQ(Server().LastDecryptedPassword("K"), std::optional<std::string>("secret"));
}

TEST_F(AuthTest, ClearWrongAndEmptyPasswords) {
    StartService();
    const std::string key = FetchPublicKey();
    struct Case {
        const char* code;
        std::string text;
        int status;
        const char* errorCode;
    };
    const Case cases[] = {
        {"L1", kPassword, 200, ""}, // in clear, as after a failed key call
        {"L1", "wrong", 403, "password is wrong"},
        {"L1", EncryptPassword(key, "wrong"), 403, "password is wrong"},
        {"L1", "", 403, "password is wrong"},
        {"F1", "", 200, ""}, // an empty password opens a link without one
        {"NOPE", kPassword, 404, "nameentry_not_exist"},
    };
    for (const Case& c : cases) {
        const Answer answer = Authenticate(c.code, c.text);
        EXPECT_EQ(answer.status, c.status) << c.code << " " << c.text;
        EXPECT_EQ(answer.token.empty(), c.status != 200) << c.code << " " << c.text;
        EXPECT_EQ(answer.code, c.errorCode) << c.code << " " << c.text;
    }
    Authenticate("L1", kPassword);
    EXPECT_EQ(Server().LastDecryptedPassword("L1"), std::nullopt); // it came in clear
}

TEST_F(AuthTest, ExpiredTokensAreRefusedAsAnInvalidSessionUntilTheLinkIsOpenedAgain) {
    StartService();
    const std::string stale = Authenticate("L1", kPassword).token;
    ASSERT_FALSE(stale.empty());
    const auto status = [this](const std::string& target, std::string* code = nullptr) {
        auto result = Client()->Get(target.c_str());
        if (!result) {
            return -1;
        }
        rapidjson::Document body;
        body.Parse(result->body.c_str());
        if (code != nullptr && body.IsObject() && body.HasMember("code")) {
            *code = body["code"].GetString();
        }
        return result->status;
    };
    const char* const targets[] = {"/v2/delivery/metadata/L1?token=",
                                   "/v2/delivery/download/L1/a.bin?token="};
    for (const char* target : targets) {
        EXPECT_EQ(status(target + stale), 200) << target;
    }

    Server().ExpireTokens();
    for (const char* target : targets) {
        std::string code;
        EXPECT_EQ(status(target + stale, &code), 401) << target;
        EXPECT_EQ(code, "token is not exist") << target;
    }
    const std::string fresh = Authenticate("L1", kPassword).token;
    EXPECT_NE(fresh, stale);
    EXPECT_EQ(fresh, Server().Token("L1"));
    for (const char* target : targets) {
        EXPECT_EQ(status(target + fresh), 200) << target;
    }
}

TEST_F(AuthTest, KeyCallCanBeMissingOrEmpty) {
    struct Case {
        const char* keyCall;
        int status;
        bool emptyBody;
    };
    const Case cases[] = {{"missing", 404, false}, {"empty", 200, true}};
    for (const Case& c : cases) {
        StartService(std::string(R"({"options": {"key_call": ")") + c.keyCall + R"("}})");
        auto result = Client()->Get("/v2/system/get_publickey");
        ASSERT_TRUE(result) << c.keyCall;
        EXPECT_EQ(result->status, c.status) << c.keyCall;
        EXPECT_EQ(result->body.empty(), c.emptyBody) << c.keyCall;
        Server().Stop();
    }
}

} // namespace
