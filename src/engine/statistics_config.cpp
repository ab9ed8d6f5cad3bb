#include "engine/statistics_config.h"

#include <cstdlib>
#include <mutex>
#include <utility>

namespace {

std::string EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

struct ConfigHolder {
    std::mutex mutex;
    StatisticsConfig config{EnvironmentText("PARVEX_PUBLIC_HOST"),
                            EnvironmentText("PARVEX_STATISTICS_URL")};
};

// The environment is read once, on first use.
ConfigHolder& Holder() {
    static ConfigHolder holder;
    return holder;
}

} // namespace

StatisticsConfig GetStatisticsConfig() {
    ConfigHolder& holder = Holder();
    std::lock_guard lock(holder.mutex);
    return holder.config;
}

void SetStatisticsConfig(StatisticsConfig config) {
    ConfigHolder& holder = Holder();
    std::lock_guard lock(holder.mutex);
    holder.config = std::move(config);
}

bool IsPublicServiceAddress(const std::string& serviceAddress) {
    const std::string host = GetStatisticsConfig().publicHost;
    return !host.empty() && serviceAddress.find(host) != std::string::npos;
}
