// parvex-engine-fetch: downloads a share link or a URL with the engine alone, or resumes what a
// data folder holds, and reports progress as plain lines (see kFetchUsage).

#include "fetch_options.h"
#include "link_listing.h"
#include "task_progress.h"

#include "engine/changed_id_sets.h"
#include "engine/engine_settings.h"
#include "engine/message_texts.h"
#include "engine/task_state.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>

namespace {

constexpr const char* kGroup = "DD";
constexpr int kPriority = 3;
constexpr std::uint32_t kUnfinishedStates = kStateWaitPreparing | kStatePreparing | kStateWorking |
                                            kStatePaused | kStateWaiting | kStateError | kStateStop;
constexpr auto kLoadDeadline = std::chrono::seconds(60);

enum ExitCode { kExitDone = 0, kExitFailed = 1, kExitUsage = 2, kExitLinkFailed = 3 };

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop.store(true);
}

// The engine's messages go to fetch.log in the data folder, line-buffered so a killed run
// leaves all it wrote: error lines always, information lines only while the data folder holds
// an entry named "Information" (as the application's log does). Standard output carries only
// the progress and the result.
std::FILE* g_log = nullptr;
bool g_logInformation = false;

void LogHook(int level, const char* text) {
    if (g_log != nullptr && (level != 0 || g_logInformation)) {
        std::fprintf(g_log, "[%c] %s\n", level == 0 ? 'I' : 'E', text);
    }
}

int Fail(const FetchFailure& failure, int exitCode) {
    std::printf("failed %d %s\n", failure.code, failure.message.c_str());
    std::fflush(stdout);
    return exitCode;
}

// The TLS settings of the engine's HTTP client are read from the environment on first use.
void ApplyTlsOptions(const FetchOptions& options) {
    if (!options.caFile.empty()) {
        setenv("PARVEX_CA_FILE", options.caFile.c_str(), 1);
    }
    if (options.insecure) {
        setenv("PARVEX_INSECURE_TLS", "1", 1);
    }
}

int PrintUrls(CTovuTransMgr& mgr, const OpenedLink& link) {
    std::vector<LinkFile> files;
    FetchFailure failure;
    if (!ListLinkFiles(mgr, link, files, failure)) {
        return Fail(failure, kExitLinkFailed);
    }
    for (const LinkFile& file : files) {
        std::printf("%s\t%s\n", file.url.c_str(), file.relativePath.c_str());
    }
    std::fflush(stdout);
    return kExitDone;
}

bool WaitForLoad(CTovuTransMgr& mgr) {
    const auto deadline = std::chrono::steady_clock::now() + kLoadDeadline;
    while (!mgr.IsLoaded()) {
        if (g_stop.load() || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The stored unfinished tasks, each asked to start again.
std::vector<std::string> ResumeStoredTasks(CTovuTransMgr& mgr) {
    const std::string list = TakeText(mgr, mgr.GetTaskIdList(kGroup, kUnfinishedStates));
    std::vector<std::string> ids;
    const std::string_view separator = kIdListSeparator;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = list.find(separator, at);
        ids.push_back(list.substr(at, end - at));
        if (end == std::string::npos) {
            break;
        }
        at = end + separator.size();
    }
    for (const std::string& id : ids) {
        mgr.StartTask(id.c_str());
    }
    return ids;
}

// Runs the engine for the request; the link, when there is one, is already open.
int Download(CTovuTransMgr& mgr, const FetchOptions& options, const OpenedLink& link) {
    const int started = mgr.StartEngine();
    if (started != 0) {
        return Fail({started, GetErrorText(started)}, kExitFailed);
    }
    std::vector<std::string> ids;
    FetchFailure failure;
    if (!WaitForLoad(mgr)) {
        failure = {engine_code::kMultiErrors, "the stored tasks were not loaded"};
    } else if (options.mode == FetchOptions::Mode::Resume) {
        ids = ResumeStoredTasks(mgr);
    } else {
        const std::string id =
            options.mode == FetchOptions::Mode::Url
                ? TakeText(mgr, mgr.NewUrlDownloadTask(kGroup, options.url.c_str(),
                                                       options.to.c_str(), kPriority))
                : TakeText(mgr,
                           mgr.NewDeliveryDownloadTask(
                               kGroup, link.root.downloadUrl.c_str(),
                               (options.to + "/" + ItemName(link.root)).c_str(), link.root.isFolder,
                               (link.root.metadataUrl + "?token=" + link.token).c_str(), kPriority,
                               "", options.password.c_str()));
        if (id.empty()) {
            failure = {engine_code::kMultiErrors, "the engine made no task for the request"};
        } else {
            ids.push_back(id);
        }
    }
    const bool done = failure.code == 0 && FollowTasks(mgr, ids, options.quiet, g_stop, failure);
    // Shutting down flushes what the stores still stage.
    mgr.ShutdownEngine();
    if (!done) {
        return Fail(failure, kExitFailed);
    }
    std::printf("done\n");
    std::fflush(stdout);
    return kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    FetchOptions options;
    std::string error;
    if (!ParseFetchOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "parvex-engine-fetch: %s\n\n%s", error.c_str(), kFetchUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kFetchUsage, stdout);
        return kExitDone;
    }
    ApplyTlsOptions(options);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::error_code folderError;
    std::filesystem::create_directories(options.dataDir, folderError);
    g_logInformation = std::filesystem::exists(options.dataDir + "/Information", folderError);
    g_log = std::fopen((options.dataDir + "/fetch.log").c_str(), "a");
    if (g_log != nullptr) {
        std::setvbuf(g_log, nullptr, _IOLBF, 0);
    }
    CTovuTransMgr& mgr = *GetTransMgr();
    mgr.SetLogHook(LogHook);
    mgr.SetOption(kOptionDataFolder, options.dataDir.c_str());
    mgr.SetOption(kOptionLanguage, "en");

    OpenedLink link;
    if (options.mode == FetchOptions::Mode::Link) {
        FetchFailure failure;
        if (!OpenLink(mgr, options.linkBase, options.linkCode, options.password, link, failure)) {
            return Fail(failure, kExitLinkFailed);
        }
        if (options.printUrls) {
            return PrintUrls(mgr, link);
        }
    }
    return Download(mgr, options, link);
}
