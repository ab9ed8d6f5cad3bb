#include "temp_home.h"

#include "support/temp_dir.h"

#include <cstdlib>

const std::string& UseTemporaryHome() {
    static const testing_support::TempDir home;
    static const bool set = ::setenv("PARVEX_HOME", home.Path().c_str(), 1) == 0;
    if (!set) {
        std::abort();
    }
    return home.Path();
}
