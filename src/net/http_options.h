#pragma once

#include <cstdint>
#include <string>

// Process-wide settings of every HTTP exchange.

// TLS: certificates and host names are verified against the system's store, or against a CA
// file that names a private installation's own certificate; verification is switched off only
// on explicit request. Read once from PARVEX_CA_FILE and PARVEX_INSECURE_TLS=1; the command
// line may replace them.
struct TlsOptions {
    std::string caFile;
    bool insecure = false;
};
TlsOptions GetTlsOptions();
void SetTlsOptions(TlsOptions options);

// Time-outs in milliseconds: connecting (name resolution included), and the longest quiet
// time while sending or waiting for the response; a raw-body upload waits longer for its reply.
struct HttpTimeouts {
    std::uint64_t connectMs = 60000;
    std::uint64_t transferMs = 60000;
    std::uint64_t rawBodyReplyMs = 600000;
};
HttpTimeouts GetHttpTimeouts();
// Tests shorten the waits; a default-constructed value restores the normal ones.
void SetHttpTimeoutsForTesting(HttpTimeouts timeouts);

// Set when the engine shuts down: every exchange ends at its next check.
void SetHttpShutdown(bool shutdown);
bool IsHttpShutdown();
