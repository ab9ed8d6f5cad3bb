#pragma once

#include "fault.h"
#include "file_content.h"
#include "request_log.h"
#include "scenario.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parvex_service {

struct StartOptions {
    int port = 0; // 0: an ephemeral port
    bool tls = false;
    std::string bindAddress = "127.0.0.1";
};

// The local stand-in for the cloud-storage service: an HTTP or HTTPS server that answers the
// service's requests from a scenario, records every request and injects faults on demand.
// All members may be called from any thread; Start and Stop from one at a time.
class ServiceServer {
public:
    explicit ServiceServer(Scenario scenario);
    ~ServiceServer(); // stops
    ServiceServer(const ServiceServer&) = delete;
    ServiceServer& operator=(const ServiceServer&) = delete;

    // Listens and serves on a thread of its own; false on failure (see LastError). A new RSA
    // key (and with TLS a new certificate) is made at every start; tokens stay.
    bool Start(int port = 0, bool tls = false);
    bool Start(const StartOptions& options);
    // Returns promptly, even while requests hang or bodies stream.
    void Stop();
    bool IsRunning() const;
    std::string LastError() const;

    int Port() const;
    std::string BaseUrl() const; // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT"
    std::string CaFile() const;  // PEM of the self-signed certificate (TLS), else empty

    std::vector<RecordedRequest> Requests() const;
    void ClearRequests();

    void AddFault(Fault fault);
    // Removes every fault and releases the requests that hang.
    void ClearFaults();

    void SetRemainingCount(const std::string& code, int count);
    void SetLoginOnly(const std::string& code, bool loginOnly);
    // Converted documents answer "state": 100 again for their first polls.
    void ResetConvertedPolls();

    // The token that authentication of the link hands out.
    std::string Token(const std::string& code) const;
    // Every token handed out so far expires: requests that carry one are refused as an invalid
    // session ("token is not exist"); authenticating again earns a new token.
    void ExpireTokens();
    // The password the last authentication of the link decrypted; nullopt when it came in
    // clear.
    std::optional<std::string> LastDecryptedPassword(const std::string& code) const;
    // The public key of the current start, as PEM.
    std::string PublicKeyPem() const;
    const Scenario& GetScenario() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace parvex_service
