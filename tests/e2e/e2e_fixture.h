#pragma once

#include "engine/log_capture.h"
#include "net/service_records.h"
#include "service_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace e2e_testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

inline constexpr std::uint64_t kMiB = 1048576;
// Sanitizer builds are many times slower; the smaller file is still split across workers
// (a running range is split while more than 10 MiB of it remain).
inline constexpr std::uint64_t kBigSize = kSanitized ? 26 * kMiB + 12345 : 50 * kMiB;

inline constexpr char kPassword[] = "s3cret pass+/";

// A download slowed to chunks of 32 KiB every 20 ms (with Fault::SlowBody), so that a test can
// act part-way through it.
inline constexpr int kSlowChunkDelayMs = 20;
inline constexpr std::uint64_t kSlowChunk = 32768;

// The links every test can use; see the scenario in e2e_fixture.cpp.
std::string Scenario();

// What GetTaskInfo or GetSubTaskInfo tells of a task or sub-task.
struct Status {
    std::string key; // a sub-task's path (its key)
    std::string state = "(none)";
    int errorCode = 0;
    std::string errorInfo;
    std::uint64_t completeBytes = 0;
};

// A service on an ephemeral port and a started engine with its own data folder; the files of
// a test go to a save folder whose parent holds nothing else.
class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    parvex_service::ServiceServer& Server() { return *m_server; }
    std::string SaveFolder() const { return m_root.File("save"); }
    std::string Outside() const { return m_root.Path(); }

    // The link's access token, as the add dialog gets it.
    std::string Authenticate(const std::string& code, const std::string& password = "");
    // The link's own item, from the first page of its listing.
    DeliveryMetadata LinkRoot(const std::string& code, const std::string& token);

    // A download task for a listed item, made as the front end makes it: saved as
    // `saveFolder`/name, keeping `password`; an empty download URL makes a file task read the
    // remaining count.
    std::string AddTask(const std::string& code, const DeliveryMetadata& item,
                        const std::string& token, const std::string& saveFolder,
                        const std::string& password = "");
    // Authenticates, lists and adds the link's item to the save folder.
    std::string AddLinkTask(const std::string& code, const std::string& password = "");
    // Shuts the engine down and starts it again on the same data folder, once it has loaded its
    // tasks.
    void RestartEngine();

    static Status TaskStatus(const std::string& taskId);
    static std::vector<Status> SubTasks(const std::string& taskId);
    // The sub-task whose key ends with `suffix`; a failure when there is none.
    static Status SubTask(const std::string& taskId, const std::string& suffix);
    // Polls until the task is Completed or Error; its last status.
    static Status WaitForEnd(const std::string& taskId);
    static bool WaitForState(const std::string& taskId, const std::string& state);
    static std::size_t LiveWorkers(const std::string& taskId);

    // Download requests the service saw whose path starts with "/v2/delivery/download/" +
    // `below` (code and path).
    std::vector<parvex_service::RecordedRequest> Downloads(const std::string& below) const;
    // Authentications of the link the service saw.
    std::size_t Authentications(const std::string& code) const;

    // The whole item of the link `code` is at `localPath`, byte for byte, with nothing else.
    ::testing::AssertionResult TreeMatches(const std::string& code,
                                           const std::string& localPath) const;
    // The file of the link `code` whose content key is `contentPath` ("/" + root + below).
    ::testing::AssertionResult FileMatches(const std::string& code, const std::string& contentPath,
                                           const std::string& localPath) const;

    static std::vector<std::string> TempFilesBelow(const std::string& folder);

    static constexpr std::chrono::milliseconds kDeadline{120000};

private:
    ::testing::AssertionResult ItemMatches(const std::string& code,
                                           const parvex_service::Item& item,
                                           const std::string& contentPath,
                                           const std::string& localPath) const;

    testing_support::TempDir m_root;
    testing_support::TempDir m_data;
    LogCapture m_log;
    std::unique_ptr<parvex_service::ServiceServer> m_server;
};

// The start offset of a download request's Range header; -1 without one.
std::int64_t RangeStart(const parvex_service::RecordedRequest& request);

} // namespace e2e_testing
