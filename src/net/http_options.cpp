#include "net/http_options.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

std::mutex g_mutex;
std::optional<TlsOptions> g_tls;
HttpTimeouts g_timeouts;
std::atomic<bool> g_shutdown{false};

TlsOptions TlsFromEnvironment() {
    TlsOptions options;
    if (const char* caFile = std::getenv("PARVEX_CA_FILE")) {
        options.caFile = caFile;
    }
    if (const char* insecure = std::getenv("PARVEX_INSECURE_TLS")) {
        options.insecure = std::string(insecure) == "1";
    }
    return options;
}

} // namespace

TlsOptions GetTlsOptions() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_tls) {
        g_tls = TlsFromEnvironment();
    }
    return *g_tls;
}

void SetTlsOptions(TlsOptions options) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tls = std::move(options);
}

HttpTimeouts GetHttpTimeouts() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_timeouts;
}

void SetHttpTimeoutsForTesting(HttpTimeouts timeouts) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_timeouts = timeouts;
}

void SetHttpShutdown(bool shutdown) {
    g_shutdown.store(shutdown);
}

bool IsHttpShutdown() {
    return g_shutdown.load();
}
