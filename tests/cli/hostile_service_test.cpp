// parvex-cli run as a process against an in-process service that lies, loops, redirects and
// misspells: every row must end by exit() with its status and message, write nothing outside
// the save folder and leave no temporary file; where memory is the point, it stays bounded.
#include "service_server.h"
#include "support/child_process.h"
#include "support/downloaded_files.h"
#include "support/temp_dir.h"
#include "url_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <set>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using parvex_service::Fault;
using parvex_service::FaultKind;
using testing_support::ChildProcess;
using testing_support::TempDir;
using testing_support::WaitUntil;

constexpr const char* kPassword = "Hostile-Pw1";
// What a row whose point is memory may use at its peak.
constexpr long kMemoryBoundKiB = 200 * 1024;
// Past this any run is stopped, so a runaway client cannot take the machine with it.
constexpr long kMemorySafetyKiB = 512 * 1024;
constexpr auto kRunDeadline = std::chrono::seconds(90);

const char* const kScenario = R"({"links": [
  {"code": "Pair1", "password": "Hostile-Pw1", "item": {"name": "Pair", "children": [
    {"name": "keep.txt", "size": 1000}, {"name": "odd.bin", "size": 1001},
    {"name": "deep", "children": [{"name": "in.txt", "size": 1002}]}]}},
  {"code": "Two1", "item": {"name": "Two", "children": [
    {"name": "keep.txt", "size": 1000}, {"name": "odd.bin", "size": 1001}]}},
  {"code": "Single1", "item": {"name": "one.bin", "size": 5000}},
  {"code": "Wide1", "item": {"name": "Wide", "generate": {"count": 250, "size": 10}}},
  {"code": "Loop1", "item": {"name": "Loop", "children": [
    {"name": "top.txt", "size": 20}, {"name": "sub", "children": [{"name": "s.txt", "size": 21}]}]}},
  {"code": "Names1", "item": {"name": "Names", "children": [
    {"name": "y%41%42", "size": 300}, {"name": "y%41B", "size": 300},
    {"name": "a?b.txt", "size": 301}, {"name": "c#d.txt", "size": 302}]}},
  {"code": "Hash1", "item": {"name": "H", "children": [
    {"name": "x#1", "children": [{"name": "in.txt", "size": 50}]}]}}
]})";

// A file the run must leave in the save folder: its local path there and the link file whose
// generated content it must hold.
struct LocalFile {
    std::string local;
    std::string code;
    std::string contentPath;
    std::uint64_t size;
};

enum class Command { List, Get };

// One hostile service and what the user must see of it. In fault texts "{BASE}" stands for the
// service's address, "{TWIN}" for the plain twin of a TLS service and "{LISTENER}" for the port
// of a listener that nothing may reach.
struct Row {
    std::string name;
    Command command = Command::Get;
    std::string link;      // below the service's address
    bool password = false; // --password kPassword
    bool tls = false;      // HTTPS, with a plain twin of the same scenario
    std::vector<Fault> faults;
    std::optional<int> exit;            // nullopt: any status, as long as the run ends by exit()
    std::vector<std::string> saidAnyOf; // all output holds one; a number stands alone
    std::vector<LocalFile> files;
    std::vector<std::string> absent; // below the save folder
    bool memoryIsThePoint = false;
    bool sameListAsPlainLink = false; // list prints what the link without its suffix lists
    bool listenerUnreached = false;
    bool twinUnrequested = false;
    bool passwordNeverInClear = false;
};

// Rows print as their names in test names and failures.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

std::string View(const std::string& code) {
    return "/link/view/" + code;
}

// Whether `output` holds `said`: a number with no digit on either side, any other text as is.
bool Holds(const std::string& output, const std::string& said) {
    const bool number = !said.empty() && std::all_of(said.begin(), said.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    for (std::size_t at = output.find(said); at != std::string::npos;
         at = output.find(said, at + 1)) {
        const auto digitAt = [&output](std::size_t i) {
            return i < output.size() && std::isdigit(static_cast<unsigned char>(output[i]));
        };
        if (!number || (!(at > 0 && digitAt(at - 1)) && !digitAt(at + said.size()))) {
            return true;
        }
    }
    return false;
}

// A listener on a free local port that must never see a connection. The kernel completes a
// connection and keeps it for accept() even after its client ended, so a short poll after the
// run sees any that was made.
class SilentListener {
public:
    SilentListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 16) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no listener";
            return;
        }
        m_port = ntohs(address.sin_port);
    }
    ~SilentListener() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int Port() const { return m_port; }
    bool Reached() {
        return WaitUntil(
            [this] {
                const int accepted = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (accepted >= 0) {
                    ::close(accepted);
                    return true;
                }
                return false;
            },
            std::chrono::milliseconds(300));
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Every entry below `root` except the `skipped` folders: path, kind, size and time of change.
std::set<std::string> Listing(const fs::path& root, const std::vector<fs::path>& skipped) {
    std::set<std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (std::find(skipped.begin(), skipped.end(), it->path()) != skipped.end()) {
            it.disable_recursion_pending();
            continue;
        }
        const fs::file_status status = it->symlink_status();
        const bool regular = fs::is_regular_file(status);
        entries.insert(
            fs::relative(it->path(), root).string() + " " +
            std::to_string(static_cast<int>(status.type())) + " " +
            (regular ? std::to_string(fs::file_size(it->path())) : "-") + " " +
            std::to_string(fs::last_write_time(it->path(), ec).time_since_epoch().count()));
    }
    return entries;
}

// The resident memory of a running process in KiB, from /proc; 0 when it cannot be read.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

struct RunResult {
    bool ended = false;
    int exit = -1;
    int signal = 0; // of a run that ended by itself
    long peakKiB = 0;
    std::string out;
    std::string err;
};

class HostileServiceTest : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        const Row& row = GetParam();
        m_service = StartService(row.tls);
        ASSERT_TRUE(m_service);
        if (row.tls) {
            m_twin = StartService(false);
            ASSERT_TRUE(m_twin);
        }
        fs::create_directories(Save());
        fs::create_directories(m_root.File("outside"));
        testing_support::WriteFile(m_root.File("outside/keep.me"), "mine");
        for (Fault fault : row.faults) {
            for (std::string* text : {&fault.location, &fault.from, &fault.to, &fault.body}) {
                parvex_service::ReplaceAll(*text, "{BASE}", m_service->BaseUrl());
                parvex_service::ReplaceAll(*text, "{TWIN}",
                                           m_twin ? m_twin->BaseUrl() : std::string());
                parvex_service::ReplaceAll(*text, "{LISTENER}", std::to_string(m_listener.Port()));
            }
            m_service->AddFault(std::move(fault));
        }
    }
    void TearDown() override {
        if (m_service) {
            m_service->Stop();
        }
        if (m_twin) {
            m_twin->Stop();
        }
    }

    static std::unique_ptr<parvex_service::ServiceServer> StartService(bool tls) {
        parvex_service::Scenario scenario;
        std::string error;
        if (!parvex_service::ParseScenario(kScenario, scenario, error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        auto server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
        if (!server->Start(0, tls)) {
            ADD_FAILURE() << server->LastError();
            return nullptr;
        }
        return server;
    }

    std::string Save() const { return m_root.File("save"); }

    // A run in English on the row's data folder, followed until it ends, its memory watched.
    RunResult Run(Command command, const std::string& link) {
        const Row& row = GetParam();
        std::vector<std::string> args = {"--data-dir", m_root.File("data"), "--lang", "en"};
        if (row.tls) {
            args.insert(args.end(), {"--ca-file", m_service->CaFile()});
        }
        args.insert(args.end(), {command == Command::List ? "list" : "get", link});
        if (row.password) {
            args.insert(args.end(), {"--password", kPassword});
        }
        if (command == Command::Get) {
            args.insert(args.end(), {"--to", Save()});
        }
        const std::string name = "run" + std::to_string(++m_runs);
        ChildProcess child(PARVEX_CLI, args, m_logs.File(name + ".out"),
                           m_logs.File(name + ".err"));
        RunResult result;
        WaitUntil([&] { return child.Ended() || ResidentKiB(child.Pid()) > kMemorySafetyKiB; },
                  kRunDeadline);
        result.ended = child.Ended();
        if (!result.ended) {
            child.Kill();
        }
        result.exit = child.Exit(std::chrono::milliseconds(0));
        result.signal = child.TermSignal();
        result.peakKiB = child.PeakMemoryKiB();
        result.out = child.Out();
        result.err = child.Err();
        return result;
    }

    TempDir m_root; // data/, save/ and outside/; nothing else may change below it
    TempDir m_logs;
    SilentListener m_listener;
    std::unique_ptr<parvex_service::ServiceServer> m_service;
    std::unique_ptr<parvex_service::ServiceServer> m_twin;
    int m_runs = 0;
};

TEST_P(HostileServiceTest, EndsCleanlyAndHarmsNothing) {
    const Row& row = GetParam();
    const std::string base = m_service->BaseUrl();
    std::string plainList;
    if (row.sameListAsPlainLink) {
        const RunResult plain = Run(Command::List, base + View("Pair1"));
        ASSERT_EQ(plain.exit, 0) << plain.err;
        plainList = plain.out;
    }
    const std::vector<fs::path> skipped = {fs::path(m_root.File("data")), fs::path(Save())};
    const std::set<std::string> before = Listing(m_root.Path(), skipped);

    const RunResult run = Run(row.command, base + row.link);
    const std::string said = run.out + run.err;
    // A run stopped for its time or memory is still checked for what it left behind.
    EXPECT_TRUE(run.ended) << "no end within the deadline or memory ran away (" << run.peakKiB
                           << " KiB)\n"
                           << said;
    if (run.ended) {
        EXPECT_EQ(run.signal, 0) << "ended by a signal\n" << said;
    }
    if (row.exit) {
        EXPECT_EQ(run.exit, *row.exit) << said;
    }
    if (!row.saidAnyOf.empty()) {
        EXPECT_TRUE(std::any_of(row.saidAnyOf.begin(), row.saidAnyOf.end(),
                                [&said](const std::string& text) { return Holds(said, text); }))
            << "expected one of " << ::testing::PrintToString(row.saidAnyOf) << " in\n"
            << said;
    }
    if (row.sameListAsPlainLink) {
        // A listing that runs away would flood the report: its start is enough.
        EXPECT_TRUE(run.out == plainList) << "listed:\n"
                                          << run.out.substr(0, 2000) << "\ninstead of:\n"
                                          << plainList;
    }
    for (const LocalFile& file : row.files) {
        EXPECT_TRUE(testing_support::LinkFileMatches(file.code, file.contentPath, file.size,
                                                     Save() + "/" + file.local));
    }
    for (const std::string& local : row.absent) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(Save() + "/" + local))) << local;
    }
    EXPECT_EQ(testing_support::TemporaryFilesBelow(Save()), std::vector<std::string>{});
    EXPECT_EQ(Listing(m_root.Path(), skipped), before) << "written outside the save folder";
    if (row.memoryIsThePoint) {
        // Linux keeps the larger of the spawning test's and the program's own peak across
        // exec, so this bounds the program from above.
        EXPECT_LT(run.peakKiB, kMemoryBoundKiB);
    }
    if (row.listenerUnreached) {
        EXPECT_FALSE(m_listener.Reached()) << "a connection reached the listener";
    }
    if (row.twinUnrequested) {
        EXPECT_TRUE(m_twin->Requests().empty())
            << m_twin->Requests().size() << " requests reached the plain twin, the first "
            << m_twin->Requests().front().target;
    }
    if (row.passwordNeverInClear) {
        for (const parvex_service::RecordedRequest& request : m_service->Requests()) {
            if (request.method == "POST" && request.path.rfind("/v2/delivery/auth/", 0) == 0) {
                EXPECT_EQ(request.body.find(kPassword), std::string::npos) << request.body;
            }
        }
    }
}

// The "download_url" or "metadata_url" member of a listed item, as the service writes it.
std::string ListedAddress(const std::string& member, const std::string& code,
                          const std::string& below) {
    const std::string call = member.substr(0, member.find('_'));
    return "\"" + member + "\":\"{BASE}/v2/delivery/" + call + "/" + code + below + "\"";
}

Fault RewriteListing(const std::string& code, std::string from, std::string to) {
    return Fault::Rewrite("/v2/delivery/metadata/" + code, std::move(from), std::move(to));
}

// odd.bin of the two-file folder listed with `bytes` as its size.
Fault OddSize(const std::string& bytes) {
    return RewriteListing("Two1", "\"bytes\":1001,", "\"bytes\":" + bytes + ",");
}

Fault KeyReply(std::string body) {
    Fault fault = Fault::HttpStatus("/v2/system/get_publickey", 200, std::move(body));
    fault.contentType = "application/json";
    return fault;
}

const LocalFile kTwoKeep{"Two/keep.txt", "Two1", "/Two/keep.txt", 1000};
const std::vector<LocalFile> kPairFiles = {
    {"Pair/keep.txt", "Pair1", "/Pair/keep.txt", 1000},
    {"Pair/odd.bin", "Pair1", "/Pair/odd.bin", 1001},
    {"Pair/deep/in.txt", "Pair1", "/Pair/deep/in.txt", 1002},
};
const std::vector<std::string> kUnknownScheme = {"12006", "protocol that is not supported"};
const std::vector<std::string> kWalkLoops = {"20111"};
const std::vector<std::string> kWalkLoopsSaid = {"20111", "repeats itself or exceeds"};
const std::vector<std::string> kUnusable = {"20002", "could not be read"};

Row ShortLinkTo(std::string name, std::string location) {
    Row row;
    row.name = std::move(name);
    row.command = Command::List;
    row.link = "/s/hop";
    row.faults = {Fault::Redirect("/s/hop", std::move(location))};
    row.exit = 3;
    row.saidAnyOf = kUnknownScheme;
    row.listenerUnreached = true;
    return row;
}

// Pair1 with the `member` address of its item at `below` leading to `address`.
Row HostileAddress(std::string name, const std::string& member, const std::string& below,
                   const std::string& address) {
    Row row;
    row.name = std::move(name);
    row.link = View("Pair1");
    row.password = true;
    row.faults = {RewriteListing("Pair1", ListedAddress(member, "Pair1", below),
                                 "\"" + member + "\":\"" + address + "\"")};
    row.exit = 1;
    row.saidAnyOf = kUnknownScheme;
    if (member == "download_url") {
        // A download address outside the link gives no local name: refused before any fetch.
        row.saidAnyOf.push_back("20108");
        row.absent = {"Pair" + below};
    }
    row.listenerUnreached = true;
    return row;
}

Row ListWithSuffix(std::string name, const std::string& suffix) {
    Row row;
    row.name = std::move(name);
    row.command = Command::List;
    row.link = View("Pair1") + suffix;
    row.password = true;
    row.exit = 0;
    row.sameListAsPlainLink = true;
    return row;
}

Row EndlessListing(std::string name, Command command, Fault fault) {
    Row row;
    row.name = std::move(name);
    row.command = command;
    row.link = View("Wide1");
    row.faults = {std::move(fault)};
    if (command == Command::Get) {
        row.exit = 1;
        row.saidAnyOf = kWalkLoops;
    } else {
        row.saidAnyOf = kWalkLoopsSaid;
    }
    row.memoryIsThePoint = true;
    return row;
}

Row BadSize(std::string name, const std::string& bytes, std::vector<std::string> said,
            bool memory) {
    Row row;
    row.name = std::move(name);
    row.link = View("Two1");
    row.faults = {OddSize(bytes)};
    row.exit = 1;
    row.saidAnyOf = std::move(said);
    row.files = {kTwoKeep};
    row.absent = {"Two/odd.bin"};
    row.memoryIsThePoint = memory;
    return row;
}

Row UnusableKey(std::string name, Fault fault, std::vector<std::string> said, bool memory = false) {
    Row row;
    row.name = std::move(name);
    row.command = Command::List;
    row.link = View("Pair1");
    row.password = true;
    row.faults = {std::move(fault)};
    row.exit = 3;
    row.saidAnyOf = std::move(said);
    row.passwordNeverInClear = true;
    row.memoryIsThePoint = memory;
    return row;
}

// Header lines ending in a bare LF are read. Bare CR line ends never reach the parser (the
// transfer library splits lines at LF only): the listing then fails cleanly.
Row CarelessLineEnds(std::string name, FaultKind kind) {
    Row row;
    row.name = std::move(name);
    row.link = View("Pair1");
    row.password = true;
    row.faults = {Fault::Make("/v2/delivery/metadata/", kind),
                  Fault::Make("/v2/delivery/download/", kind)};
    if (kind == FaultKind::BareCrHeaders) {
        row.exit = 3;
    } else {
        row.exit = 0;
        row.files = kPairFiles;
    }
    return row;
}

std::vector<Row> Rows() {
    std::vector<Row> rows = {
        // A short address may lead only to HTTP or HTTPS.
        ShortLinkTo("ShortLinkToGopher", "gopher://127.0.0.1:{LISTENER}/_SET%20x%201%0D%0A"),
        ShortLinkTo("ShortLinkToFile", "file:///etc/passwd"),
        ShortLinkTo("ShortLinkToFtp", "ftp://127.0.0.1:{LISTENER}/x"),
        // Listed addresses of other schemes are never fetched.
        HostileAddress("DownloadUrlToFile", "download_url", "/odd.bin", "file:///etc/passwd"),
        HostileAddress("DownloadUrlToGopher", "download_url", "/odd.bin",
                       "gopher://127.0.0.1:{LISTENER}/_x"),
        HostileAddress("MetadataUrlToFile", "metadata_url", "/deep", "file:///etc/passwd"),
        HostileAddress("MetadataUrlToGopher", "metadata_url", "/deep",
                       "gopher://127.0.0.1:{LISTENER}/_x"),
        // A query or fragment is not part of the delivery code.
        ListWithSuffix("LinkWithQuery", "?x=1"),
        ListWithSuffix("LinkWithFragment", "#frag"),
        // Folder walks end on a page that brings nothing new and on an address already walked.
        EndlessListing("OffsetIgnoredGet", Command::Get,
                       Fault::Make("/v2/delivery/metadata/Wide1", FaultKind::IgnoreOffset)),
        EndlessListing("OffsetIgnoredList", Command::List,
                       Fault::Make("/v2/delivery/metadata/Wide1", FaultKind::IgnoreOffset)),
        EndlessListing("RepeatedPageGet", Command::Get,
                       Fault::RepeatPage("/v2/delivery/metadata/Wide1", 100)),
        EndlessListing("RepeatedPageList", Command::List,
                       Fault::RepeatPage("/v2/delivery/metadata/Wide1", 100)),
        // A listed size is an integer from 0 to 2^50; the other file still downloads.
        BadSize("SizeNegative", "-1", kUnusable, false),
        BadSize("SizeText", "\"12x\"", kUnusable, false),
        BadSize("SizeTwoToThe52", "4503599627370496", kUnusable, true),
        BadSize("SizeTwoToThe60", "1152921504606846976", kUnusable, true),
        // Allowed, but more than the disk holds: refused before a temporary file is made.
        BadSize("SizeBeyondTheDisk", "562949953421312", {"112", "not enough space"}, false),
        // Without a usable key the password is never sent.
        UnusableKey("KeyMissing",
                    Fault::Error("/v2/system/get_publickey", "nameentry_not_exist",
                                 "No key here 4711", 404),
                    {"No key here 4711"}),
        UnusableKey("KeyReplyEmpty", Fault::Make("/v2/system/get_publickey", FaultKind::EmptyBody),
                    kUnusable),
        UnusableKey("KeyEmpty", KeyReply(R"({"public_key":""})"), kUnusable),
        UnusableKey("KeyUnreadable", KeyReply(R"({"public_key":"not a key at all"})"), kUnusable),
        UnusableKey("KeyFiveMegabytesOfBrackets", KeyReply(std::string(5 << 20, '[')), kUnusable,
                    true),
        // Header lines that end carelessly are still read.
        CarelessLineEnds("HeadersEndInBareLf", FaultKind::BareLfHeaders),
        CarelessLineEnds("HeadersEndInBareCr", FaultKind::BareCrHeaders),
    };

    Row https;
    https.name = "HttpsDownloadRedirectedToHttp";
    https.link = View("Single1");
    https.tls = true;
    https.faults = {
        Fault::Redirect("/v2/delivery/download/", "{TWIN}/v2/delivery/download/Single1/one.bin")};
    https.exit = 1;
    https.saidAnyOf = {"12006"};
    https.absent = {"one.bin"};
    https.twinUnrequested = true;
    rows.push_back(https);

    Row loop;
    loop.name = "SubFolderLeadsBackToItsParent";
    loop.link = View("Loop1");
    loop.faults = {RewriteListing("Loop1", ListedAddress("metadata_url", "Loop1", "/sub"),
                                  ListedAddress("metadata_url", "Loop1", ""))};
    loop.exit = 1;
    loop.saidAnyOf = kWalkLoops;
    rows.push_back(loop);

    Row names;
    names.name = "NamesThatLookLikeEscapesOrHoldQueryMarks";
    names.link = View("Names1");
    names.exit = 0;
    for (const auto& [name, size] : std::vector<std::pair<std::string, std::uint64_t>>{
             {"y%41%42", 300}, {"y%41B", 300}, {"a?b.txt", 301}, {"c#d.txt", 302}}) {
        names.files.push_back({"Names/" + name, "Names1", "/Names/" + name, size});
    }
    rows.push_back(names);

    Row hash;
    hash.name = "MetadataUrlWithARawHash";
    hash.link = View("Hash1");
    hash.faults = {RewriteListing("Hash1", "/Hash1/x%231\"", "/Hash1/x#1\"")};
    hash.exit = 0;
    hash.files = {{"H/x#1/in.txt", "Hash1", "/H/x#1/in.txt", 50}};
    rows.push_back(hash);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileServiceTest, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

} // namespace
