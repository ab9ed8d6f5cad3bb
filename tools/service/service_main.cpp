// parvex-service: serves a scenario until SIGINT or SIGTERM; SIGUSR1 expires every token.

#include "service_server.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: parvex-service --scenario FILE [--port N] [--tls] [--bind ADDR] [--throttle BPS]\n"
    "\n"
    "Serves the scenario FILE on ADDR (default 127.0.0.1), port N (default: a free one).\n"
    "--throttle sends every download at about BPS bytes per second per connection, so a\n"
    "demonstration shows its progress.\n"
    "Prints one line, the base URL, followed with --tls by a blank and the CA file that\n"
    "holds the self-signed certificate; then serves until SIGINT or SIGTERM.\n"
    "SIGUSR1 expires every access token handed out so far.\n";

int UsageError(const std::string& message) {
    std::cerr << "parvex-service: " << message << "\n\n" << kUsage;
    return 2;
}

bool ParsePort(const std::string& text, int& port) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) {
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string scenarioPath;
    parvex_service::StartOptions options;
    std::uint64_t throttle = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--tls") {
            options.tls = true;
        } else if (arg == "--scenario" && hasValue) {
            scenarioPath = argv[++i];
        } else if (arg == "--port" && hasValue) {
            if (!ParsePort(argv[++i], options.port)) {
                return UsageError(std::string("--port needs a number from 0 to 65535, not \"") +
                                  argv[i] + "\"");
            }
        } else if (arg == "--throttle" && hasValue) {
            char* end = nullptr;
            throttle = std::strtoull(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || throttle == 0) {
                return UsageError(
                    std::string("--throttle needs a number of bytes per second, not \"") + argv[i] +
                    "\"");
            }
        } else if (arg == "--bind" && hasValue) {
            options.bindAddress = argv[++i];
        } else {
            return UsageError("unknown or incomplete argument \"" + arg + "\"");
        }
    }
    if (scenarioPath.empty()) {
        return UsageError("--scenario FILE is required");
    }
    parvex_service::Scenario scenario;
    std::string error;
    if (!parvex_service::LoadScenarioFile(scenarioPath, scenario, error)) {
        std::cerr << "parvex-service: bad scenario: " << error << "\n";
        return 2;
    }

    // Every thread inherits this mask, so the signals reach sigwait below only.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    parvex_service::ServiceServer server(std::move(scenario));
    if (throttle != 0) {
        constexpr std::uint64_t kChunk = 65536;
        const int delayMs = static_cast<int>(std::max<std::uint64_t>(1, kChunk * 1000 / throttle));
        server.AddFault(parvex_service::Fault::SlowBody("/v2/delivery/download/", delayMs, kChunk));
    }
    if (!server.Start(options)) {
        std::cerr << "parvex-service: " << server.LastError() << "\n";
        return 1;
    }
    std::cout << server.BaseUrl();
    if (options.tls) {
        std::cout << ' ' << server.CaFile();
    }
    std::cout << std::endl;

    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGUSR1) {
        server.ExpireTokens();
    }
    server.Stop();
    return 0;
}
