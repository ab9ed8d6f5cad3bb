#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

// Runs the registered benchmarks with the console output, then prints for each pair (ours,
// peer's) the ratio of their mean real times measured in this run: the machines are shared, so
// only ratios from one run compare.
int RunWithRatios(int argc, char** argv,
                  const std::vector<std::pair<std::string, std::string>>& pairs);
