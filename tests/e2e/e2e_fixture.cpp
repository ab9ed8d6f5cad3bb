#include "e2e/e2e_fixture.h"

#include "engine/changed_id_sets.h"
#include "engine/engine_settings.h"
#include "engine/json_fields.h"
#include "engine/runtime_fixture.h"
#include "engine/transfer_workers.h"
#include "file_content.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

namespace e2e_testing {

namespace {

namespace fs = std::filesystem;

constexpr char kGroup[] = "DD";
constexpr int kPriority = 3;
constexpr std::size_t kCompareChunk = 4 * kMiB;
constexpr std::size_t kLogLinesShown = 80;

std::string Join(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "[" : ", ") + name;
    }
    return text + "]";
}

const parvex_service::Link* FindLink(const parvex_service::Scenario& scenario,
                                     const std::string& code) {
    const auto it =
        std::find_if(scenario.links.begin(), scenario.links.end(),
                     [&](const parvex_service::Link& link) { return link.code == code; });
    return it == scenario.links.end() ? nullptr : &*it;
}

Status ReadStatus(const std::string& json) {
    Status status;
    rapidjson::Document document;
    document.Parse(json.c_str());
    if (!document.IsObject()) {
        status.state = "(unreadable) " + json;
        return status;
    }
    using namespace json_fields;
    status.state = ReadText(document, "state");
    status.errorCode = ReadInt32(document, "error_code");
    status.errorInfo = ReadText(document, "error_info");
    status.completeBytes = ReadUint64(document, "complete_bytes");
    return status;
}

} // namespace

std::string Scenario() {
    // Only "Names1" has blanks in its names: the service lists download addresses unencoded.
    return R"({"links": [
      {"code": "Tree1", "password": ")" +
           std::string(kPassword) + R"(", "item": {"name": "Tree", "children": [
        {"name": "empty.bin", "size": 0},
        {"name": "one.txt", "size": 1},
        {"name": "big.bin", "size": )" +
           std::to_string(kBigSize) +
           R"(},
        {"name": "docs", "children": [
          {"name": "exact.bin", "size": 1048576},  // one whole part
          {"name": "over.bin", "size": 1048577},   // and a byte
          {"name": "中文", "children": [{"name": "报告.txt", "size": 10}]},
          {"name": "nothing", "folder": true}]}]}},
      {"code": "One1", "item": {"name": "single.iso", "size": 3145745}},
      {"code": "Count1", "remaining": 0, "item": {"name": "limited.pdf", "size": 5000}},
      {"code": "Cut1", "item": {"name": "cut.bin", "size": 5243213}},
      {"code": "Deny1", "item": {"name": "Deny", "children": [
        {"name": "ok.txt", "size": 2000}, {"name": "no.bin", "size": 3145728}]}},
      {"code": "Esc1", "item": {"name": "Esc", "children": [
        {"name": "escape.txt", "size": 1000}, {"name": "keep.txt", "size": 2000},
        {"name": "inner", "children": [{"name": "deep.txt", "size": 300}]}]}},
      {"code": "Ign1", "item": {"name": "Ign", "children": [
        {"name": "small.txt", "size": 100000}, {"name": "large.bin", "size": 3145733}]}},
      {"code": "Slow1", "item": {"name": "slow.bin", "size": 4194304}},
      {"code": "Gone1", "item": {"name": "Gone", "children": [
        {"name": "a.bin", "size": 4194304}, {"name": "b.bin", "size": 4194304}]}},
      {"code": "Clash1", "item": {"name": "Clash", "children": [
        {"name": "a.bin", "size": 3145728}, {"name": "a.bin.tovutmp", "size": 1000},
        {"name": "a.bin.tovutmp )"
           "(1)"
           R"(", "size": 500},
        {"name": "Readme.txt", "size": 100}, {"name": "README.txt", "size": 200}]
}
},
      {"code": "Plant1", "item": {"name": "Plant", "children": [
        {"name": "temp-link.txt", "size": 5000}, {"name": "final-link.txt", "size": 6000},
        {"name": "taken.txt", "size": 7000}, {"name": "free.txt", "size": 800}]}},
      {"code": "Names1", "item": {"name": "Mixed", "children": [
        {"name": "x y.txt", "size": 1000},
        {"name": "sub dir", "children": [{"name": "中文 报告.txt", "size": 10}]}]}}
    ]
})";
}

void E2eTest::SetUp() {
    parvex_service::Scenario scenario;
    std::string error;
    ASSERT_TRUE(parvex_service::ParseScenario(Scenario(), scenario, error)) << error;
    // From the main thread: cpp-httplib's first start on another thread trips ThreadSanitizer.
    m_server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
    ASSERT_TRUE(m_server->Start(0, false)) << m_server->LastError();
    ASSERT_TRUE(fs::create_directory(SaveFolder()));

    CTovuTransMgr* mgr = GetTransMgr();
    mgr->SetOption(kOptionDataFolder, m_data.Path().c_str());
    mgr->SetOption(kOptionLanguage, "en");
    ASSERT_EQ(mgr->StartEngine(), 0);
    ASSERT_TRUE(testing_support::WaitUntil([mgr] { return mgr->IsLoaded(); }, kDeadline));
}

void E2eTest::TearDown() {
    GetTransMgr()->ShutdownEngine();
    if (m_server) {
        m_server->Stop();
    }
    if (HasFailure()) {
        const std::vector<std::string> errors = m_log.Errors();
        const std::size_t from =
            errors.size() > kLogLinesShown ? errors.size() - kLogLinesShown : 0;
        std::cerr << "engine errors (" << errors.size() << "):\n";
        for (std::size_t i = from; i < errors.size(); ++i) {
            std::cerr << "  " << errors[i] << "\n";
        }
    }
}

std::string E2eTest::Authenticate(const std::string& code, const std::string& password) {
    char* token = nullptr;
    char* message = nullptr;
    const int result = GetTransMgr()->AuthenticateLink(Server().BaseUrl().c_str(), code.c_str(),
                                                       password.c_str(), &token, &message);
    const std::string why = TakeText(message);
    EXPECT_EQ(result, 0) << code << ": " << why;
    return result == 0 ? TakeText(token) : std::string();
}

DeliveryMetadata E2eTest::LinkRoot(const std::string& code, const std::string& token) {
    int errorCode = -1;
    char* message = nullptr;
    const std::string body = TakeText(GetTransMgr()->GetDeliveryMetadata(
        Server().BaseUrl().c_str(), code.c_str(), token.c_str(), &errorCode, &message, 0));
    const std::string why = TakeText(message);
    EXPECT_EQ(errorCode, 0) << code << ": " << why;
    rapidjson::Document document;
    document.Parse(body.c_str());
    DeliveryMetadata root;
    if (!document.IsObject()) {
        ADD_FAILURE() << code << ": the listing is not an object: " << body;
        return root;
    }
    root.Read(document);
    return root;
}

std::string E2eTest::AddTask(const std::string& code, const DeliveryMetadata& item,
                             const std::string& token, const std::string& saveFolder,
                             const std::string& password) {
    const std::string local = saveFolder + "/" + item.path.substr(item.path.rfind('/') + 1);
    const std::string metadata = item.metadataUrl + "?token=" + token;
    std::string remainCountUrl;
    if (item.downloadUrl.empty() && !item.isFolder) {
        remainCountUrl = Server().BaseUrl() + "/v2/delivery/get_remain_download_count/" + code;
    }
    return TakeText(GetTransMgr()->NewDeliveryDownloadTask(
        kGroup, item.downloadUrl.c_str(), local.c_str(), item.isFolder, metadata.c_str(), kPriority,
        remainCountUrl.c_str(), password.c_str()));
}

std::string E2eTest::AddLinkTask(const std::string& code, const std::string& password) {
    const std::string token = Authenticate(code, password);
    return AddTask(code, LinkRoot(code, token), token, SaveFolder(), password);
}

void E2eTest::RestartEngine() {
    CTovuTransMgr* mgr = GetTransMgr();
    mgr->ShutdownEngine();
    ASSERT_EQ(mgr->StartEngine(), 0);
    ASSERT_TRUE(testing_support::WaitUntil([mgr] { return mgr->IsLoaded(); }, kDeadline));
}

Status E2eTest::TaskStatus(const std::string& taskId) {
    return ReadStatus(TakeText(GetTransMgr()->GetTaskInfo(taskId.c_str())));
}

std::vector<Status> E2eTest::SubTasks(const std::string& taskId) {
    std::vector<Status> subTasks;
    const std::string keys = TakeText(GetTransMgr()->GetSubTaskIdList(taskId.c_str(), 0, -1));
    const std::string separator = kIdListSeparator;
    for (std::size_t begin = 0, end = 0; (end = keys.find(separator, begin)) != std::string::npos;
         begin = end + separator.size()) {
        const std::string key = keys.substr(begin, end - begin);
        Status status =
            ReadStatus(TakeText(GetTransMgr()->GetSubTaskInfo(taskId.c_str(), key.c_str())));
        status.key = key;
        subTasks.push_back(std::move(status));
    }
    return subTasks;
}

Status E2eTest::SubTask(const std::string& taskId, const std::string& suffix) {
    for (Status& status : SubTasks(taskId)) {
        if (status.key.ends_with(suffix)) {
            return std::move(status);
        }
    }
    ADD_FAILURE() << "no sub-task ends with " << suffix;
    return Status();
}

Status E2eTest::WaitForEnd(const std::string& taskId) {
    Status last;
    testing_support::WaitUntil(
        [&] {
            last = TaskStatus(taskId);
            return last.state == "StateCompleted" || last.state == "StateError";
        },
        kDeadline);
    return last;
}

bool E2eTest::WaitForState(const std::string& taskId, const std::string& state) {
    return testing_support::WaitUntil([&] { return TaskStatus(taskId).state == state; }, kDeadline);
}

std::size_t E2eTest::LiveWorkers(const std::string& taskId) {
    return TransferWorkers().CountPartWorkers(taskId);
}

std::vector<parvex_service::RecordedRequest> E2eTest::Downloads(const std::string& below) const {
    const std::string prefix = "/v2/delivery/download/" + below;
    std::vector<parvex_service::RecordedRequest> found;
    for (parvex_service::RecordedRequest& request : m_server->Requests()) {
        if (request.path.starts_with(prefix)) {
            found.push_back(std::move(request));
        }
    }
    return found;
}

std::size_t E2eTest::Authentications(const std::string& code) const {
    const std::vector<parvex_service::RecordedRequest> requests = m_server->Requests();
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const auto& request) {
            return request.path == "/v2/delivery/auth/" + code;
        }));
}

::testing::AssertionResult E2eTest::TreeMatches(const std::string& code,
                                                const std::string& localPath) const {
    const parvex_service::Link* link = FindLink(m_server->GetScenario(), code);
    if (link == nullptr) {
        return ::testing::AssertionFailure() << "no link " << code;
    }
    return ItemMatches(code, link->item, "/" + link->item.name, localPath);
}

::testing::AssertionResult E2eTest::FileMatches(const std::string& code,
                                                const std::string& contentPath,
                                                const std::string& localPath) const {
    const parvex_service::Link* link = FindLink(m_server->GetScenario(), code);
    const std::string root = link != nullptr ? "/" + link->item.name : std::string();
    if (link == nullptr || !contentPath.starts_with(root)) {
        return ::testing::AssertionFailure() << "no file " << contentPath << " in " << code;
    }
    parvex_service::Item scratch;
    const parvex_service::Item* item =
        parvex_service::FindItem(link->item, contentPath.substr(root.size()), scratch);
    if (item == nullptr || item->isDir) {
        return ::testing::AssertionFailure() << "no file " << contentPath << " in " << code;
    }
    return ItemMatches(code, *item, contentPath, localPath);
}

::testing::AssertionResult E2eTest::ItemMatches(const std::string& code,
                                                const parvex_service::Item& item,
                                                const std::string& contentPath,
                                                const std::string& localPath) const {
    std::error_code error;
    if (item.isDir) {
        if (!fs::is_directory(localPath, error)) {
            return ::testing::AssertionFailure() << localPath << " is not a folder";
        }
        std::set<std::string> expected;
        parvex_service::Item scratch;
        for (std::uint64_t i = 0; i < parvex_service::ChildCount(item); ++i) {
            const parvex_service::Item& child = parvex_service::ChildAt(item, i, scratch);
            expected.insert(child.name);
            auto result = ItemMatches(code, child, contentPath + "/" + child.name,
                                      localPath + "/" + child.name);
            if (!result) {
                return result;
            }
        }
        std::set<std::string> found;
        for (const fs::directory_entry& entry : fs::directory_iterator(localPath, error)) {
            found.insert(entry.path().filename().string());
        }
        if (found != expected) {
            return ::testing::AssertionFailure()
                   << localPath << " holds " << Join(found) << ", not " << Join(expected);
        }
        return ::testing::AssertionSuccess();
    }
    if (!fs::is_regular_file(localPath, error)) {
        return ::testing::AssertionFailure() << localPath << " is not a file";
    }
    const std::uint64_t size = fs::file_size(localPath, error);
    if (size != item.size) {
        return ::testing::AssertionFailure()
               << localPath << " has " << size << " bytes, not " << item.size;
    }
    std::ifstream in(localPath, std::ios::binary);
    std::string chunk;
    for (std::uint64_t offset = 0; offset < size; offset += chunk.size()) {
        chunk.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(kCompareChunk, size - offset)));
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::string expected =
            parvex_service::FileContent(code, contentPath, offset, chunk.size());
        const auto differ = std::mismatch(chunk.begin(), chunk.end(), expected.begin());
        if (!in || differ.first != chunk.end()) {
            const std::uint64_t at =
                offset + static_cast<std::uint64_t>(differ.first - chunk.begin());
            return ::testing::AssertionFailure() << localPath << " differs from byte " << at
                                                 << " on (in part " << at / kMiB << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> E2eTest::TempFilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().ends_with(".tovutmp")) {
            found.push_back(it->path().string());
        }
    }
    return found;
}

std::int64_t RangeStart(const parvex_service::RecordedRequest& request) {
    const std::string range = request.Header("Range");
    if (!range.starts_with("bytes=")) {
        return -1;
    }
    return std::stoll(range.substr(6));
}

} // namespace e2e_testing
