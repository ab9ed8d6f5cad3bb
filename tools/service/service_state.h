#pragma once

#include "fault.h"
#include "rsa_keys.h"
#include "scenario.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parvex_service {

// What the request handlers share: the scenario (fixed), the key and base URL (fixed while
// serving) and the state that changes, under one lock. Waits end when the server stops.
class ServiceState {
public:
    explicit ServiceState(Scenario scenario);

    const Scenario& GetScenario() const { return m_scenario; }
    const Link* FindLink(const std::string& code) const;
    // The link's token: random, made once per link and again after ExpireTokens.
    std::string Token(const std::string& code) const;
    // Every token issued so far stops being valid: each link gets a new one, which the next
    // authentication hands out.
    void ExpireTokens();

    RsaKeyPair& Key() { return m_key; }
    const RsaKeyPair& Key() const { return m_key; }
    void SetBaseUrl(std::string baseUrl) { m_baseUrl = std::move(baseUrl); }
    const std::string& BaseUrl() const { return m_baseUrl; }

    int Remaining(const std::string& code) const;
    void SetRemaining(const std::string& code, int count);
    void SetLoginOnly(const std::string& code, bool loginOnly);
    bool LoginOnly(const std::string& code) const;

    // Counts a poll of a converted document; returns the number of earlier polls.
    int CountConvertedPoll(const std::string& code, const std::string& path);
    void ResetConvertedPolls();

    // The password the last authentication of `code` decrypted; nullopt when it sent its
    // password in clear (or none was decrypted).
    void SetLastDecrypted(const std::string& code, std::optional<std::string> password);
    std::optional<std::string> LastDecrypted(const std::string& code) const;

    std::string NextRequestId();

    void AddFault(Fault fault);
    void ClearFaults();
    // The fault for this request, consuming one of its count; `offset` is the request's
    // "offset" parameter (0 when absent).
    std::optional<Fault> TakeFault(const std::string& method, const std::string& path,
                                   std::uint64_t offset);

    // Blocks until the faults are cleared or the server stops; false when it stops.
    bool WaitWhileHanging();
    // Waits `ms`; false when the server stops meanwhile.
    bool PauseFor(int ms);
    // Starts serving again (Start) or ends every wait (Stop).
    void SetStopping(bool stopping);

private:
    struct LinkState {
        std::string token;
        int remaining = 0;
        bool loginOnly = false;
        std::optional<std::string> lastDecrypted;
    };

    const Scenario m_scenario;
    RsaKeyPair m_key;
    std::string m_baseUrl;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, LinkState> m_links;
    std::map<std::string, int> m_convertedPolls;
    std::vector<Fault> m_faults;
    std::uint64_t m_faultGeneration = 0;
    std::uint64_t m_requestCount = 0;
    bool m_stopping = false;
};

} // namespace parvex_service
