#pragma once

#include "service_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace service_testing {

// One link "L1" (password protected) sharing the folder "Reports", one link "F1" sharing a
// single file, two short addresses and a small storage tree.
extern const char* const kScenario;

parvex_service::Scenario ParseOrFail(const std::string& json);

// Starts a service on an ephemeral port for each test.
class ServiceTest : public ::testing::Test {
protected:
    void StartService(const std::string& json = kScenario, bool tls = false);
    void TearDown() override;

    parvex_service::ServiceServer& Server() { return *m_server; }
    std::unique_ptr<httplib::Client> Client() const;
    // "/v2/delivery/metadata/L1..." with the link's token.
    std::string WithToken(const std::string& path, const std::string& code = "L1") const;

private:
    std::unique_ptr<parvex_service::ServiceServer> m_server;
};

// Sends `request` as is on a new connection and returns everything read until the server
// closes it (or 10 s pass).
std::string RawExchange(int port, const std::string& request);

// A response read off the wire: header names lower-cased, the body as far as it arrived.
struct RawResponse {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string Header(const std::string& lowerCaseName) const;
};
RawResponse ParseRawResponse(const std::string& text);

// A GET of `target` on a new connection that the server closes after the reply.
RawResponse RawGet(int port, const std::string& target, const std::string& extraHeaders = "");

// The Base64 of the RSA PKCS #1 v1.5 encryption of `text` with the PEM public key.
std::string EncryptPassword(const std::string& publicKeyPem, const std::string& text);

} // namespace service_testing
