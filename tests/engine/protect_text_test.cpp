#include "engine/base64.h"
#include "engine/protect_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr char kMachineId[] = "4f1e2d3c4b5a69788796a5b4c3d2e1f0";

// Points the machine id at a file of the test's own, so the results do not depend on the host.
class ProtectTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(m_idPath, kMachineId + "\n"s);
        SetMachineIdPathForTesting(m_idPath);
    }
    void TearDown() override { SetMachineIdPathForTesting(""); }

    TempDir m_dir;
    const std::string m_idPath = m_dir.File("machine-id");
};

// Whether the stored value is the protected form rather than the plain bytes.
void ExpectSealed(const std::string& stored, const std::string& text) {
    const std::string blob = Base64Decode(stored);
    EXPECT_GT(blob.size(), text.size());
    if (!text.empty()) {
        EXPECT_EQ(blob.find(text), std::string::npos) << "the plain text shows in the blob";
    }
}

} // namespace

TEST_F(ProtectTextTest, TextsRoundTripInProtectedForm) {
    const std::string texts[] = {
        "link password 42", "提取码：密码测试", "", "before\0after"s, std::string(5000, 'x'),
    };
    for (const std::string& text : texts) {
        const std::string stored = ProtectText(text);
        ExpectSealed(stored, text);
        EXPECT_EQ(UnprotectText(stored), text);
    }
}

TEST_F(ProtectTextTest, StoredValuesKeepReadingAcrossVersions) {
    // Sealed outside this code base: HKDF-SHA256 of the machine id (salt "VarnokData3.0", info
    // "parvex-protect"), AES-256-GCM with the nonce 00..0B and "PVX1" as associated data.
    // A change of key derivation or layout would make every stored password unreadable.
    EXPECT_EQ(UnprotectText("UFZYMQABAgMEBQYHCAkKC7rvSJAbJcBaYcihsLcY3Ryt9887tH6RQ1pJoDcb73qv"),
              "提取码 secret");
}

TEST_F(ProtectTextTest, EachProtectionUsesAFreshNonce) {
    const std::string first = ProtectText("same text");
    const std::string second = ProtectText("same text");
    EXPECT_NE(first, second);
    EXPECT_EQ(UnprotectText(first), "same text");
    EXPECT_EQ(UnprotectText(second), "same text");
}

TEST_F(ProtectTextTest, ValuesThatAreNotOursReadAsTheirDecodedBytes) {
    // Stored unprotected, or starting like a blob but too short to be one.
    for (const std::string& plain : {"plain value"s, "PVX1"s, "PVX1 short"s}) {
        EXPECT_EQ(UnprotectText(Base64Encode(plain)), plain);
    }
    for (const std::string& invalid : {"not base64!"s, "abc"s, ""s}) {
        EXPECT_EQ(UnprotectText(invalid), "") << invalid;
    }
}

TEST_F(ProtectTextTest, AnyChangedByteFailsAuthentication) {
    const std::string blob = Base64Decode(ProtectText("secret"));
    for (std::size_t i = 0; i < blob.size(); ++i) {
        std::string tampered = blob;
        tampered[i] = static_cast<char>(tampered[i] ^ 0x01);
        EXPECT_EQ(UnprotectText(Base64Encode(tampered)), tampered) << "byte " << i;
    }
    EXPECT_EQ(UnprotectText(Base64Encode(blob.substr(0, blob.size() - 1))),
              blob.substr(0, blob.size() - 1));
}

TEST_F(ProtectTextTest, TheKeyFollowsTheMachineIdWithoutItsLineFeed) {
    const std::string stored = ProtectText("secret");

    WriteFile(m_idPath, "another machine\n");
    EXPECT_EQ(UnprotectText(stored), Base64Decode(stored));

    WriteFile(m_idPath, kMachineId);
    EXPECT_EQ(UnprotectText(stored), "secret");
}

TEST_F(ProtectTextTest, WithoutAMachineIdTheTextIsStoredAsPlainBase64) {
    const std::string missing = m_dir.File("missing");
    const std::string empty = m_dir.File("empty");
    const std::string lineFeed = m_dir.File("line-feed");
    WriteFile(empty, "");
    WriteFile(lineFeed, "\n");
    for (const std::string& path : {missing, empty, lineFeed, m_dir.Path()}) {
        SetMachineIdPathForTesting(path);
        EXPECT_EQ(ProtectText("提取码 abcd"), Base64Encode("提取码 abcd")) << path;
        EXPECT_EQ(UnprotectText(Base64Encode("提取码 abcd")), "提取码 abcd") << path;
    }
}

TEST_F(ProtectTextTest, OverridingThePathWhileOtherThreadsProtectIsSafe) {
    const std::string copy = m_dir.File("same-id");
    WriteFile(copy, kMachineId);
    std::atomic<bool> stop{false};
    std::atomic<int> roundTrips{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                if (UnprotectText(ProtectText("shared")) != "shared") {
                    ++failures;
                }
                ++roundTrips;
            }
        });
    }
    int toggles = 0;
    const bool progressed = testing_support::WaitUntil([&] {
        SetMachineIdPathForTesting(++toggles % 2 == 0 ? copy : m_idPath);
        return toggles >= 20 && roundTrips >= 200;
    });
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(progressed);
    EXPECT_EQ(failures, 0);
}

TEST(ProtectTextSystem, TheSystemMachineIdProtects) {
    const auto hasId = [](const char* path) {
        std::error_code error;
        return std::filesystem::file_size(path, error) > 1 && !error;
    };
    if (!hasId("/etc/machine-id") && !hasId("/var/lib/dbus/machine-id")) {
        GTEST_SKIP() << "no machine id on this host";
    }
    SetMachineIdPathForTesting("");
    const std::string stored = ProtectText("secret");
    ExpectSealed(stored, "secret");
    EXPECT_EQ(UnprotectText(stored), "secret");
}
