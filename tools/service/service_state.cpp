#include "service_state.h"

#include <openssl/rand.h>

#include <cstdio>
#include <random>

namespace parvex_service {

namespace {

std::string RandomToken() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof(bytes)) != 1) {
        std::random_device device;
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    std::string token;
    char hex[3];
    for (unsigned char byte : bytes) {
        std::snprintf(hex, sizeof(hex), "%02x", byte);
        token += hex;
    }
    return token;
}

} // namespace

ServiceState::ServiceState(Scenario scenario) : m_scenario(std::move(scenario)) {
    for (const Link& link : m_scenario.links) {
        LinkState state;
        state.token = RandomToken();
        state.remaining = link.remaining;
        state.loginOnly = link.loginOnly;
        m_links.emplace(link.code, std::move(state));
    }
}

const Link* ServiceState::FindLink(const std::string& code) const {
    for (const Link& link : m_scenario.links) {
        if (link.code == code) {
            return &link;
        }
    }
    return nullptr;
}

std::string ServiceState::Token(const std::string& code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    return it == m_links.end() ? std::string() : it->second.token;
}

void ServiceState::ExpireTokens() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [code, link] : m_links) {
        link.token = RandomToken();
    }
}

int ServiceState::Remaining(const std::string& code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    return it == m_links.end() ? 0 : it->second.remaining;
}

void ServiceState::SetRemaining(const std::string& code, int count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    if (it != m_links.end()) {
        it->second.remaining = count;
    }
}

void ServiceState::SetLoginOnly(const std::string& code, bool loginOnly) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    if (it != m_links.end()) {
        it->second.loginOnly = loginOnly;
    }
}

bool ServiceState::LoginOnly(const std::string& code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    return it != m_links.end() && it->second.loginOnly;
}

int ServiceState::CountConvertedPoll(const std::string& code, const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_convertedPolls[code + '\n' + path]++;
}

void ServiceState::ResetConvertedPolls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_convertedPolls.clear();
}

void ServiceState::SetLastDecrypted(const std::string& code, std::optional<std::string> password) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    if (it != m_links.end()) {
        it->second.lastDecrypted = std::move(password);
    }
}

std::optional<std::string> ServiceState::LastDecrypted(const std::string& code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(code);
    return it == m_links.end() ? std::nullopt : it->second.lastDecrypted;
}

std::string ServiceState::NextRequestId() {
    std::lock_guard<std::mutex> lock(m_mutex);
    char text[32];
    std::snprintf(text, sizeof(text), "req-%06llu",
                  static_cast<unsigned long long>(++m_requestCount));
    return text;
}

void ServiceState::AddFault(Fault fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(std::move(fault));
}

void ServiceState::ClearFaults() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_faults.clear();
        ++m_faultGeneration;
    }
    m_wake.notify_all();
}

std::optional<Fault> ServiceState::TakeFault(const std::string& method, const std::string& path,
                                             std::uint64_t offset) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (path.compare(0, it->pathPrefix.size(), it->pathPrefix) != 0 ||
            (!it->method.empty() && it->method != method) ||
            (it->offset && *it->offset != offset)) {
            continue;
        }
        Fault fault = *it;
        if (it->count > 0 && --it->count == 0) {
            m_faults.erase(it);
        }
        return fault;
    }
    return std::nullopt;
}

bool ServiceState::WaitWhileHanging() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::uint64_t generation = m_faultGeneration;
    m_wake.wait(lock, [&] { return m_stopping || m_faultGeneration != generation; });
    return !m_stopping;
}

bool ServiceState::PauseFor(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_stopping; });
}

void ServiceState::SetStopping(bool stopping) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = stopping;
    }
    m_wake.notify_all();
}

} // namespace parvex_service
