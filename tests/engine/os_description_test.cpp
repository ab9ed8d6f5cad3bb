#include "engine/os_description.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>

TEST(OsDescription, FormatsKernelNameVersionAndProcessWidth) {
    struct Case {
        const char* sysname;
        const char* release;
        const char* machine;
        unsigned pointerBits;
        const char* expected;
    };
    const Case cases[] = {
        {"Linux", "6.1.0-18-amd64", "x86_64", 64, "Linux Ver6.1_32"},
        {"Linux", "5.10", "aarch64", 64, "Linux Ver5.10_32"},
        {"Linux", "6.1.0", "x86_64", 32, "Linux Ver6.1_64"},
        {"Linux", "4.19.0", "ppc64le", 32, "Linux Ver4.19_64"},
        {"Linux", "6.1.0", "i686", 32, "Linux Ver6.1_32"},
        {"", "6.1.0", "x86_64", 64, " Ver6.1_32"},
        // No readable "major.minor" prefix: only the width is left.
        {"Linux", "abc", "x86_64", 64, "_32"},
        {"Linux", "", "x86_64", 32, "_64"},
        {"Linux", "6", "x86_64", 64, "_32"},
        {"Linux", "6.", "x86_64", 64, "_32"},
        {"Linux", "-6.1", "x86_64", 64, "_32"},
        {"Linux", "99999999999.1", "x86_64", 64, "_32"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeOsDescription(c.sysname, c.release, c.machine, c.pointerBits), c.expected)
            << c.sysname << " / " << c.release << " / " << c.machine << " / " << c.pointerBits;
    }
}

TEST(OsDescription, ThisProcessDescribesTheRunningKernel) {
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    const std::string description = GetOsDescription();
    EXPECT_EQ(description.rfind(std::string(names.sysname) + " Ver", 0), 0u) << description;
    if (sizeof(void*) == 8) {
        EXPECT_EQ(description.substr(description.size() - 3), "_32") << description;
    }
}

TEST(FileVersionText, SplitsBothHalvesIntoSixteenBitParts) {
    EXPECT_EQ(GetFileVersionText(0x00010002, 0x00030004), "1.2.3.4");
    EXPECT_EQ(GetFileVersionText(0, 0), "0.0.0.0");
    EXPECT_EQ(GetFileVersionText(0xFFFFFFFF, 0x0000FFFF), "65535.65535.0.65535");
}
