#include "engine/statistics_config.h"

// STUB: to be written
StatisticsConfig GetStatisticsConfig() { return {}; }
void SetStatisticsConfig(StatisticsConfig) {}
bool IsPublicServiceAddress(const std::string&) { return false; }
