#include "bench_ratio.h"

#include <cstdio>
#include <map>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                const std::string name = run.run_name.function_name;
                m_times[name] = run.GetAdjustedRealTime();
                m_units[name] = benchmark::GetTimeUnitString(run.time_unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> m_times;
    std::map<std::string, std::string> m_units;
};

} // namespace

int RunWithRatios(int argc, char** argv,
                  const std::vector<std::pair<std::string, std::string>>& pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-28s %-28s %12s %12s %8s\n", "ours", "peer", "ours", "peer", "ratio");
    for (const auto& [ours, peer] : pairs) {
        const auto a = reporter.m_times.find(ours);
        const auto b = reporter.m_times.find(peer);
        if (a == reporter.m_times.end() || b == reporter.m_times.end() || b->second <= 0) {
            continue;
        }
        std::printf("%-28s %-28s %9.2f %-2s %9.2f %-2s %8.2f\n", ours.c_str(), peer.c_str(),
                    a->second, reporter.m_units[ours].c_str(), b->second,
                    reporter.m_units[peer].c_str(), a->second / b->second);
    }
    benchmark::Shutdown();
    return 0;
}
