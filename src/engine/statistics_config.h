#pragma once

#include <string>

// Where action records go. They are sent only when the engine's service address contains the
// host name of the service's public installation; this program configures none by default, so
// nothing is sent unless a host is set here (or by PARVEX_PUBLIC_HOST / PARVEX_STATISTICS_URL).
struct StatisticsConfig {
    std::string publicHost;    // empty: statistics are never sent
    std::string statisticsUrl; // scheme and host of the statistics endpoint, e.g. "https://st.host"
};

StatisticsConfig GetStatisticsConfig();
void SetStatisticsConfig(StatisticsConfig config);
// The service address names the public installation.
bool IsPublicServiceAddress(const std::string& serviceAddress);
