#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken invariant aborts like a crash, so libFuzzer keeps the input that broke it.
[[noreturn]] inline void FuzzInvariantBroken(const char* condition, std::string_view detail,
                                             const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n  detail: %.*s\n", file, line, condition,
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            FuzzInvariantBroken(#condition, (detail), __FILE__, __LINE__);                         \
        }                                                                                          \
    } while (false)
