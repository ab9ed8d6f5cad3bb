// Link listings: reading replies, paging, the depth-first tree walk and the background folder
// action, against the local stand-in for the service (and a scripted manager where a reply has
// to go wrong on one particular page).
#include "intake/link_listing.h"

#include "engine/folder_walk_guard.h"

#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "service_server.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"
#include "tracking/post_targets.h"
#include "url_text.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using parvex_service::Fault;
using testing_support::WaitUntil;

namespace {

constexpr char kScenario[] = R"({"links": [
  {"code": "Tree1", "item": {"name": "Root", "children": [
    {"name": "a.txt", "size": 1},
    {"name": "Big", "generate": {"count": 250, "size": 1}},
    {"name": "Sub", "children": [
      {"name": "深", "children": [{"name": "x.txt", "size": 2}]},
      {"name": "b.txt", "size": 3}]},
    {"name": "Hundred", "generate": {"count": 100, "size": 1}},
    {"name": "z.txt", "size": 1}]}},
  {"code": "One1", "item": {"name": "single.iso", "size": 5}}
]})";

constexpr char kMetadataPrefix[] = "/v2/delivery/metadata/";

std::vector<QString> Paths(const std::vector<LinkItem>& items) {
    std::vector<QString> paths;
    for (const LinkItem& item : items) {
        paths.push_back(item.path);
    }
    return paths;
}

class LinkListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetTransMgr()->SetOption(kOptionLanguage, "en");
        m_server = testing_support::StartScenarioServer(kScenario);
        ASSERT_TRUE(m_server);
        m_base = QString::fromStdString(m_server->BaseUrl());
        m_token = QString::fromStdString(m_server->Token("Tree1"));
    }

    // Every metadata request as "<link path>@<offset>", in arrival order.
    std::vector<std::string> Listed() const {
        std::vector<std::string> listed;
        for (const parvex_service::RecordedRequest& request : m_server->Requests()) {
            if (request.path.starts_with(kMetadataPrefix)) {
                const std::string below = request.path.substr(std::strlen(kMetadataPrefix));
                const parvex_service::QueryParams query = parvex_service::ParseQuery(request.query);
                listed.push_back(parvex_service::PercentDecode(below) + "@" +
                                 parvex_service::QueryValue(query, "offset"));
            }
        }
        return listed;
    }

    LinkItem Child(const LinkItem& folder, const QString& name) const {
        for (const LinkItem& child : folder.children) {
            if (child.Name() == name) {
                return child;
            }
        }
        ADD_FAILURE() << "no child " << name.toStdString();
        return {};
    }

    LinkItem Walk(LinkItem& allItems, BridgeStatus& status, const QString& code = "Tree1") {
        LinkItem root;
        ListLinkTree(m_bridge, m_base, code,
                     QString::fromStdString(m_server->Token(code.toStdString())), root, allItems,
                     status);
        return root;
    }

    std::unique_ptr<parvex_service::ServiceServer> m_server;
    CEngineBridge m_bridge{GetTransMgr()};
    QString m_base;
    QString m_token;
};

// A manager that answers listing pages from a script, keyed by offset.
class ScriptedPages : public CTovuTransMgr {
public:
    struct Page {
        std::string body; // empty: the request fails
        int code = 0;
    };

    char* GetDeliveryMetadata(const char*, const char* linkPath, const char*, int* errorCode,
                              char** errorMessage, std::int64_t offset,
                              const std::atomic<bool>*) override {
        return Answer(linkPath, offset, errorCode, errorMessage);
    }
    char* GetJsonPage(const char* url, int* errorCode, char** errorMessage, std::int64_t offset,
                      const std::atomic<bool>*) override {
        return Answer(url, offset, errorCode, errorMessage);
    }
    void FreeString(char* text) override { std::free(text); }

    std::map<std::int64_t, Page> pages;
    std::vector<std::int64_t> asked;

private:
    char* Answer(const char*, std::int64_t offset, int* errorCode, char** errorMessage) {
        asked.push_back(offset);
        const Page& page = pages[offset];
        *errorCode = page.code;
        if (page.body.empty()) {
            *errorMessage = strdup("page refused");
            return nullptr;
        }
        return strdup(page.body.c_str());
    }
};

// A folder page of `count` files, numbered from `first`.
std::string FilePage(int first, int count) {
    std::string children;
    for (int i = first; i < first + count; ++i) {
        children += std::string(children.empty() ? "" : ",") + R"({"path": "/Root/f)" +
                    std::to_string(i) + R"(", "is_dir": false})";
    }
    return R"({"path": "/Root", "is_dir": true, "content": [)" + children + "]}";
}

// Receives listing events, as the selection dialog does.
class ListReceiver : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != FrontEventType(kMsgListResult)) {
            return QObject::event(event);
        }
        auto* listing = static_cast<CListResultEvent*>(event);
        fromTreeWalk = listing->FromTreeWalk();
        result = listing->TakeResult();
        return true;
    }

    std::unique_ptr<ListResult> result;
    bool fromTreeWalk = true;
};

std::unique_ptr<ListResult> WaitForResult(ListReceiver& receiver) {
    WaitUntil([&] {
        QCoreApplication::processEvents();
        return receiver.result != nullptr;
    });
    return std::move(receiver.result);
}

} // namespace

TEST(LinkListingParse, ReadsEveryMemberOfTheRootAndItsChildren) {
    const QString reply = QString::fromUtf8(R"({
        "access_mode": "2", "bytes": 5000000000, "delivery_code": "Ab12",
        "download_url": "http://h/dl", "eodDownloadUrl": "http://h/eod",
        "watermarkDownloadUrl": "http://h/wm", "metadata_url": "http://h/meta",
        "is_dir": true, "modified": "2024-05-01T10:20:30+08:00", "neid": "n1",
        "path": "/Root/报告", "rev": "7", "size": "4.7 GB",
        "content": [{"path": "/Root/报告/a.txt", "bytes": 3}, 5, {"path": "/Root/报告/b"}]})");
    LinkItem item;
    item.children.resize(3);
    ASSERT_TRUE(ParseListing(reply, item));

    EXPECT_EQ(item.accessMode, 2);
    EXPECT_EQ(item.bytes, 5000000000);
    EXPECT_EQ(item.deliveryCode, "Ab12");
    EXPECT_EQ(item.downloadUrl, "http://h/dl");
    EXPECT_EQ(item.convertedUrl, "http://h/eod");
    EXPECT_EQ(item.watermarkUrl, "http://h/wm");
    EXPECT_EQ(item.metadataUrl, "http://h/meta");
    EXPECT_TRUE(item.isFolder);
    EXPECT_EQ(item.modified, "2024-05-01T10:20:30+08:00");
    EXPECT_EQ(item.nodeId, "n1");
    EXPECT_EQ(item.Name(), QString::fromUtf8("报告"));
    EXPECT_EQ(item.revision, "7");
    EXPECT_EQ(item.displaySize, "4.7 GB");
    // Replaced, not appended to; the element that is no object is left out.
    ASSERT_EQ(item.children.size(), 2u);
    EXPECT_EQ(item.children[0].bytes, 3);
    EXPECT_FALSE(item.children[1].isFolder);
    EXPECT_EQ(item.children[1].Name(), "b");
}

TEST(LinkListingParse, ChildrenComeFromContentElseSearchResult) {
    struct Case {
        const char* reply;
        std::vector<QString> paths;
    } cases[] = {
        {R"({"content": [{"path": "/c"}], "search_result": [{"path": "/s"}]})", {"/c"}},
        {R"({"search_result": [{"path": "/s1"}, {"path": "/s2"}]})", {"/s1", "/s2"}},
        // A "content" that is no array hides "search_result" too.
        {R"({"content": {"path": "/c"}, "search_result": [{"path": "/s"}]})", {}},
        {R"({"path": "/Root"})", {}},
    };
    for (const Case& c : cases) {
        LinkItem item;
        item.children.resize(1);
        ASSERT_TRUE(ParseListing(c.reply, item)) << c.reply;
        EXPECT_EQ(Paths(item.children), c.paths) << c.reply;
    }
}

TEST(LinkListingParse, AReplyThatIsNoJsonObjectChangesNothing) {
    for (const char* reply : {"<html>busy</html>", "[]", "", R"({"path": "/x")"}) {
        LinkItem item;
        item.path = "/kept";
        item.children.resize(2);
        EXPECT_FALSE(ParseListing(reply, item)) << reply;
        EXPECT_EQ(item.path, "/kept");
        EXPECT_EQ(item.children.size(), 2u);
    }
}

TEST(LinkListingToken, AppendedOnlyWhenMissingWithTheRightJoint) {
    struct Case {
        const char* url;
        const char* token;
        const char* expected;
    } cases[] = {
        {"http://h/meta/C/a", "T1", "http://h/meta/C/a?token=T1"},
        {"http://h/meta/C/a?x=1", "T1", "http://h/meta/C/a?x=1&token=T1"},
        {"http://h/meta/C/a?token=OLD", "T1", "http://h/meta/C/a?token=OLD"},
        {"http://h/meta/C/a?x=1&token=OLD", "T1", "http://h/meta/C/a?x=1&token=OLD"},
        {"http://h/meta/C/a", "", "http://h/meta/C/a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppendToken(c.url, c.token), QString(c.expected)) << c.url << " " << c.token;
    }
}

TEST_F(LinkListingTest, FolderPagesAreRequestedUntilAShortPage) {
    LinkItem allItems;
    BridgeStatus walked;
    const LinkItem root = Walk(allItems, walked);
    struct Case {
        const char* name;
        std::size_t children;
        std::vector<std::string> listed;
    } cases[] = {
        {"Big", 250, {"Tree1/Big@0", "Tree1/Big@100", "Tree1/Big@200"}},
        {"Hundred", 100, {"Tree1/Hundred@0", "Tree1/Hundred@100"}},
    };
    for (const Case& c : cases) {
        const LinkItem folder = Child(root, c.name);
        LinkItem target = folder.WithoutChildren();
        BridgeStatus status;
        m_server->ClearRequests();

        ListFolderPages(m_bridge, AppendToken(folder.metadataUrl, m_token), target, status);

        EXPECT_EQ(Listed(), c.listed) << c.name;
        EXPECT_EQ(status.code, 0) << status.message.toStdString();
        const std::vector<QString> paths = Paths(target.children);
        EXPECT_EQ(std::set<QString>(paths.begin(), paths.end()).size(), c.children) << c.name;
        EXPECT_EQ(target.path, folder.path);
    }
}

TEST_F(LinkListingTest, TreeWalkListsEveryFolderDepthFirst) {
    LinkItem allItems;
    BridgeStatus status{5, "stale"};
    const LinkItem root = Walk(allItems, status);

    EXPECT_EQ(Listed(), (std::vector<std::string>{"Tree1@0", "Tree1/Big@0", "Tree1/Big@100",
                                                  "Tree1/Big@200", "Tree1/Sub@0", "Tree1/Sub/深@0",
                                                  "Tree1/Hundred@0", "Tree1/Hundred@100"}));
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(status.message, "");

    EXPECT_EQ(root.path, "/Root");
    EXPECT_TRUE(root.isFolder);
    EXPECT_EQ(Paths(root.children), (std::vector<QString>{"/Root/a.txt", "/Root/Big", "/Root/Sub",
                                                          "/Root/Hundred", "/Root/z.txt"}));
    for (const LinkItem& child : root.children) {
        EXPECT_TRUE(child.children.empty()) << child.path.toStdString();
    }

    const std::vector<QString> all = Paths(allItems.children);
    ASSERT_EQ(all.size(), 5u + 250u + 2u + 1u + 100u);
    EXPECT_EQ(std::set<QString>(all.begin(), all.end()).size(), all.size());
    EXPECT_EQ(std::vector<QString>(all.begin(), all.begin() + 5), Paths(root.children));
    EXPECT_TRUE(all[5].startsWith("/Root/Big/"));
    EXPECT_TRUE(all[254].startsWith("/Root/Big/"));
    EXPECT_EQ(all[255], QString::fromUtf8("/Root/Sub/深"));
    EXPECT_EQ(all[256], "/Root/Sub/b.txt");
    EXPECT_EQ(all[257], QString::fromUtf8("/Root/Sub/深/x.txt"));
    EXPECT_TRUE(all[258].startsWith("/Root/Hundred/"));
    EXPECT_TRUE(all.back().startsWith("/Root/Hundred/"));
}

TEST_F(LinkListingTest, ASingleFileLinkTakesOneRequest) {
    LinkItem allItems;
    BridgeStatus status;
    const LinkItem root = Walk(allItems, status, "One1");

    EXPECT_EQ(Listed(), std::vector<std::string>{"One1@0"});
    EXPECT_EQ(root.path, "/single.iso");
    EXPECT_FALSE(root.isFolder);
    EXPECT_EQ(root.bytes, 5);
    EXPECT_TRUE(root.children.empty());
    EXPECT_TRUE(allItems.children.empty());
}

TEST_F(LinkListingTest, AFailedFolderEndsOnlyItsOwnListing) {
    struct Case {
        const char* failing;
        int statusAfter; // the walk's last request decides
    } cases[] = {
        {"Tree1/Sub", 0},         // Hundred is listed after it
        {"Tree1/Hundred", 20005}, // the last request of the walk
    };
    for (const Case& c : cases) {
        m_server->ClearFaults();
        m_server->ClearRequests();
        m_server->AddFault(Fault::Error(std::string(kMetadataPrefix) + c.failing,
                                        "file/folder not found", "gone", 404));
        LinkItem allItems;
        BridgeStatus status;
        const LinkItem root = Walk(allItems, status);

        EXPECT_EQ(status.code, c.statusAfter) << c.failing;
        EXPECT_EQ(status.message, c.statusAfter != 0 ? "gone" : "") << c.failing;
        EXPECT_EQ(root.children.size(), 5u) << c.failing;
        std::set<std::string> folders;
        for (const LinkItem& item : allItems.children) {
            folders.insert(item.path.left(item.path.lastIndexOf(u'/')).toStdString());
        }
        const std::string failedPath = std::string("/Root") + (c.failing + 5);
        EXPECT_EQ(folders.count(failedPath), 0u) << c.failing;
        EXPECT_EQ(folders.count("/Root/Big"), 1u) << c.failing;
        EXPECT_EQ(folders.count("/Root/Hundred"), c.statusAfter == 0 ? 1u : 0u) << c.failing;
        EXPECT_EQ(Listed().back(), c.statusAfter == 0 ? "Tree1/Hundred@100" : "Tree1/Hundred@0");
    }
}

TEST(LinkListingScripted, ABadSecondPageEndsTheFolderAndKeepsTheFirst) {
    struct Case {
        const char* what;
        ScriptedPages::Page second;
        int statusCode;
    } cases[] = {
        {"not json", {"<html>busy</html>", 0}, 0},
        {"failed", {"", 20002}, 20002},
    };
    for (const Case& c : cases) {
        ScriptedPages mgr;
        mgr.pages[0] = {FilePage(0, 100), 0};
        mgr.pages[100] = c.second;
        mgr.pages[200] = {FilePage(100, 5), 0};
        CEngineBridge bridge(&mgr);

        LinkItem target;
        BridgeStatus status;
        ListFolderPages(bridge, "http://h/meta/C", target, status);
        EXPECT_EQ(mgr.asked, (std::vector<std::int64_t>{0, 100})) << c.what;
        EXPECT_EQ(target.children.size(), 100u) << c.what;
        EXPECT_EQ(status.code, c.statusCode) << c.what;

        mgr.asked.clear();
        LinkItem root;
        LinkItem allItems;
        status = {};
        ListLinkTree(bridge, "http://h", "C", "T", root, allItems, status);
        EXPECT_EQ(mgr.asked, (std::vector<std::int64_t>{0, 100})) << c.what;
        EXPECT_EQ(root.path, "/Root") << c.what;
        EXPECT_EQ(root.children.size(), 100u) << c.what;
        EXPECT_EQ(allItems.children.size(), 100u) << c.what;
        EXPECT_EQ(status.code, c.statusCode) << c.what;
    }
}

TEST(LinkListingBounds, APageServedAgainEndsTheListingAndTheWalk) {
    // Every path under the scripted root is listed with the same pages, so a folder child
    // would be listed forever too: the folders "d" lead to "C/d/d/d...".
    const std::string folderPage =
        R"({"path": "/Root", "is_dir": true, "content": [{"path": "/Root/d", "is_dir": true}]})";
    struct Case {
        const char* what;
        std::map<std::int64_t, std::string> pages;
        std::vector<std::int64_t> asked;
    } cases[] = {
        {"offset ignored", {{0, FilePage(0, 100)}, {100, FilePage(0, 100)}}, {0, 100}},
        {"page repeated",
         {{0, FilePage(0, 100)}, {100, FilePage(100, 100)}, {200, FilePage(100, 100)}},
         {0, 100, 200}},
    };
    for (const Case& c : cases) {
        ScriptedPages mgr;
        for (const auto& [offset, body] : c.pages) {
            mgr.pages[offset] = {body, 0};
        }
        CEngineBridge bridge(&mgr);
        LinkItem target;
        BridgeStatus status;
        ListFolderPages(bridge, "http://h/meta/C", target, status);
        EXPECT_EQ(mgr.asked, c.asked) << c.what;
        EXPECT_EQ(status.code, 20111) << c.what;
        // In the engine's language, whichever it is.
        EXPECT_TRUE(status.message.contains(QStringLiteral("1,000,000"))) << c.what;

        mgr.asked.clear();
        LinkItem root;
        LinkItem allItems;
        status = {};
        ListLinkTree(bridge, "http://h", "C", "T", root, allItems, status);
        EXPECT_EQ(mgr.asked, c.asked) << c.what;
        EXPECT_EQ(root.path, "/Root") << c.what;
        EXPECT_EQ(status.code, 20111) << c.what;
    }

    // A folder inside itself without end stops at the depth ceiling.
    ScriptedPages nested;
    nested.pages[0] = {folderPage, 0};
    CEngineBridge bridge(&nested);
    LinkItem root;
    LinkItem allItems;
    BridgeStatus status;
    ListLinkTree(bridge, "http://h", "C", "T", root, allItems, status);
    EXPECT_EQ(nested.asked.size(), static_cast<std::size_t>(CFolderWalkGuard::kMaxDepth) + 1);
    EXPECT_EQ(status.code, 20111);
}

TEST_F(LinkListingTest, AStopEndsAWalkWhoseRequestHangs) {
    m_server->AddFault(
        parvex_service::Fault::Make(kMetadataPrefix, parvex_service::FaultKind::Hang));
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    LinkItem root;
    LinkItem allItems;
    BridgeStatus status;
    std::thread walker([&] {
        ListLinkTree(m_bridge, m_base, "Tree1", m_token, root, allItems, status, &stop);
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return !Listed().empty(); }));
    stop = true;
    // Well before the exchange's own time-out of a minute.
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    m_server->ClearFaults();
    walker.join();
    EXPECT_TRUE(allItems.children.empty());
}

TEST_F(LinkListingTest, FolderActionPostsItsListingToTheReceiver) {
    LinkItem allItems;
    BridgeStatus status;
    const LinkItem sub = Child(Walk(allItems, status), "Sub");
    m_server->ClearRequests();
    ListReceiver receiver;
    post_targets::Register(&receiver);

    CGetMetaAction action(GetTransMgr(), sub, &receiver, m_token);
    ASSERT_TRUE(action.Start(0));
    const std::unique_ptr<ListResult> result = WaitForResult(receiver);

    ASSERT_NE(result, nullptr);
    EXPECT_FALSE(receiver.fromTreeWalk);
    EXPECT_EQ(result->errorCode, 0);
    EXPECT_EQ(result->folder.path, "/Root/Sub");
    EXPECT_EQ(Paths(result->folder.children),
              (std::vector<QString>{QString::fromUtf8("/Root/Sub/深"), "/Root/Sub/b.txt"}));
    EXPECT_TRUE(result->allItems.children.empty());
    EXPECT_EQ(Listed(), std::vector<std::string>{"Tree1/Sub@0"});
}

TEST_F(LinkListingTest, FolderActionPostsAFailureWithItsCodeAndMessage) {
    LinkItem allItems;
    BridgeStatus status;
    const LinkItem sub = Child(Walk(allItems, status), "Sub");
    m_server->AddFault(Fault::Error(std::string(kMetadataPrefix) + "Tree1/Sub",
                                    "file/folder not found", "gone", 404));
    ListReceiver receiver;
    post_targets::Register(&receiver);

    CGetMetaAction action(GetTransMgr(), sub, &receiver, m_token);
    ASSERT_TRUE(action.Start(0));
    const std::unique_ptr<ListResult> result = WaitForResult(receiver);

    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->errorCode, 20005);
    EXPECT_EQ(result->errorMessage, "gone");
    EXPECT_EQ(result->folder.path, "/Root/Sub");
    EXPECT_TRUE(result->folder.children.empty());
}

// The leak check of the sanitizer build is what shows the result was freed.
TEST_F(LinkListingTest, FolderActionForAReceiverThatIsGoneFreesItsResult) {
    LinkItem allItems;
    BridgeStatus status;
    const LinkItem big = Child(Walk(allItems, status), "Big");
    m_server->ClearRequests();
    // The listing hangs until the receiver is gone, as when a dialog closes mid-listing.
    m_server->AddFault(
        parvex_service::Fault::Make(kMetadataPrefix, parvex_service::FaultKind::Hang));
    auto receiver = std::make_unique<ListReceiver>();
    post_targets::Register(receiver.get());
    CGetMetaAction action(GetTransMgr(), big, receiver.get(), m_token);
    ASSERT_TRUE(action.Start(0));
    ASSERT_TRUE(WaitUntil([&] { return !Listed().empty(); }));
    const QObject* gone = receiver.get();
    receiver.reset();
    m_server->ClearFaults();
    ASSERT_TRUE(WaitUntil([&] { return action.IsFinished(); }));
    QCoreApplication::processEvents();

    EXPECT_FALSE(post_targets::IsRegistered(const_cast<QObject*>(gone)));
    EXPECT_EQ(Listed().size(), 3u);
}

// A folder listing still waiting for the service when the program ends: shutdown asks it to
// stop before the engine cancels its request, so it ends without a cut-short result.
TEST_F(LinkListingTest, ShutdownEndsAWaitingFolderActionWithoutAResult) {
    testing_support::TempDir home;
    testing_support::ScopedEnv root("PARVEX_HOME", home.Path());
    LinkItem allItems;
    BridgeStatus status;
    const LinkItem big = Child(Walk(allItems, status), "Big");
    CEngineBridge* bridge = CEngineBridge::Instance();
    ASSERT_EQ(bridge->Start(), 0);
    m_server->ClearRequests();
    m_server->AddFault(
        parvex_service::Fault::Make(kMetadataPrefix, parvex_service::FaultKind::Hang));
    ListReceiver receiver;
    post_targets::Register(&receiver);
    bridge->StartFolderListing(big, &receiver, m_token);
    ASSERT_TRUE(WaitUntil([&] { return !Listed().empty(); }));

    CEngineBridge::Shutdown();
    QCoreApplication::processEvents();
    EXPECT_EQ(receiver.result, nullptr);
    m_server->ClearFaults();
}
