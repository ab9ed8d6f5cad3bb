// The task and sub-task trackers over a real engine that downloads from the in-process service.
#include "app/engine_bridge.h"
#include "engine/engine_settings.h"
#include "engine/json_fields.h"
#include "engine/message_texts.h"
#include "engine/tovu_trans_mgr.h"
#include "net/service_records.h"
#include "service_server.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"
#include "tracking/front_events.h"
#include "tracking/parvex_sub_task_mgr.h"
#include "tracking/parvex_task_mgr.h"

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using parvex_service::Fault;
using parvex_service::FaultKind;
using testing_support::TempDir;
using testing_support::WaitUntil;

constexpr auto kDeadline = 60s;
constexpr auto kPoll = 50ms;

constexpr char kScenario[] = R"({"links": [
  {"code": "Doc1", "item": {"name": "report.pdf", "size": 5000}},
  {"code": "Note1", "item": {"name": "note.txt", "size": 100}},
  {"code": "Stay1", "item": {"name": "stay.bin", "size": 4000}},
  {"code": "Slow1", "item": {"name": "slow.bin", "size": 65536}},
  {"code": "Pics1", "item": {"name": "photos", "children": [
    {"name": "a.jpg", "size": 3000},
    {"name": "sub", "children": [{"name": "b.jpg", "size": 2000}]},
    {"name": "empty", "folder": true}]}}
]})";

// Keeps every tracker event it is given.
class Recorder : public QObject {
public:
    struct Change {
        QString key;
        CTaskViewInfo record;
    };

    bool event(QEvent* event) override {
        if (event->type() == FrontEventType(kMsgTaskLoaded)) {
            ++loaded;
            return true;
        }
        if (event->type() == FrontEventType(kMsgTaskChanged) ||
            event->type() == FrontEventType(kMsgSubTaskChanged)) {
            auto* changed = static_cast<CTaskChangedEvent*>(event);
            changes.push_back({changed->Key(), *changed->TakeRecord()});
            return true;
        }
        return QObject::event(event);
    }

    bool Saw(const QString& key, int viewState) const {
        for (const Change& change : changes) {
            if (change.key == key && change.record.viewState == viewState) {
                return true;
            }
        }
        return false;
    }
    bool SawKey(const QString& key) const {
        for (const Change& change : changes) {
            if (change.key == key) {
                return true;
            }
        }
        return false;
    }

    int loaded = 0;
    std::vector<Change> changes;
};

// Polls with the posted events delivered between the tests of the condition.
bool WaitPumping(const std::function<bool()>& condition) {
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        kDeadline);
}

class TrackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = testing_support::StartScenarioServer(kScenario);
        ASSERT_TRUE(m_server);
        ASSERT_TRUE(fs::create_directory(m_save.File("save")));
        StartEngine();
    }

    void TearDown() override {
        GetTransMgr()->ShutdownEngine();
        m_server->Stop();
    }

    void StartEngine() {
        CTovuTransMgr* mgr = GetTransMgr();
        mgr->SetOption(kOptionDataFolder, m_data.Path().c_str());
        mgr->SetOption(kOptionLanguage, "en");
        ASSERT_EQ(mgr->StartEngine(), 0);
    }

    QString SaveFolder() const { return QString::fromStdString(m_save.File("save")); }
    QString Saved(const char* name) const { return SaveFolder() + "/" + name; }

    QString Token(const char* code) {
        BridgeStatus status;
        const QString token = m_bridge.AuthenticateLink(QString::fromStdString(m_server->BaseUrl()),
                                                        code, QString(), status);
        EXPECT_FALSE(token.isEmpty()) << code << ": " << status.code;
        return token;
    }

    // The link's own item as the service lists it.
    LinkItem Item(const char* code, const QString& token) {
        BridgeStatus status;
        const std::optional<QString> reply = m_bridge.GetDeliveryMetadata(
            QString::fromStdString(m_server->BaseUrl()), code, token, 0, status);
        rapidjson::Document document;
        const std::string text = reply.value_or(QString()).toStdString();
        document.Parse(text.c_str());
        LinkItem item;
        if (!document.IsObject()) {
            ADD_FAILURE() << code << ": no listing (" << status.code << ")";
            return item;
        }
        DeliveryMetadata root;
        root.Read(document);
        item.path = QString::fromStdString(root.path);
        item.downloadUrl = QString::fromStdString(root.downloadUrl);
        item.metadataUrl = QString::fromStdString(root.metadataUrl);
        item.isFolder = root.isFolder;
        item.bytes = root.size;
        return item;
    }

    // One download task for the link's item, made by `tracker`.
    AddedTask AddLink(CParvexTaskMgr& tracker, const char* code) {
        const QString token = Token(code);
        const std::vector<AddedTask> added =
            tracker.AddDownloadTasks({Item(code, token)}, SaveFolder(), token);
        EXPECT_EQ(added.size(), 1u);
        EXPECT_FALSE(added.empty() || added[0].taskId.isEmpty()) << code;
        return added.empty() ? AddedTask() : added[0];
    }

    int ViewState(const QString& taskId) { return m_bridge.GetTaskView(taskId).viewState; }
    bool InEngine(const QString& taskId) { return m_bridge.GetTaskIds().contains(taskId); }

    // The task address the engine holds for a task.
    std::string TaskAddress(const QString& taskId) {
        char* text = GetTransMgr()->GetTaskInfo(taskId.toUtf8().constData());
        rapidjson::Document document;
        document.Parse(text != nullptr ? text : "");
        GetTransMgr()->FreeString(text);
        const auto box = document.IsObject() ? document.FindMember("box_file")
                                             : rapidjson::Value::MemberIterator();
        return document.IsObject() && box != document.MemberEnd()
                   ? json_fields::ReadText(box->value, "metaurl")
                   : std::string();
    }

    std::string DownloadPrefix(const char* below) const {
        return std::string("/v2/delivery/download/") + below;
    }
    bool ServiceSaw(const std::string& prefix) const {
        for (const parvex_service::RecordedRequest& request : m_server->Requests()) {
            if (request.path.starts_with(prefix)) {
                return true;
            }
        }
        return false;
    }

    TempDir m_data;
    TempDir m_save;
    std::unique_ptr<parvex_service::ServiceServer> m_server;
    CEngineBridge m_bridge{GetTransMgr()};
};

TEST_F(TrackerTest, StartUpSnapshotDeletesCompletedTasksAndLoadsEachWindowOnce) {
    m_server->AddFault(Fault::Make(DownloadPrefix("Stay1"), FaultKind::Hang));
    auto tracker = std::make_unique<CParvexTaskMgr>(&m_bridge, kPoll);
    const QString done = AddLink(*tracker, "Note1").taskId;
    const QString stay = AddLink(*tracker, "Stay1").taskId;
    ASSERT_TRUE(WaitUntil([&] { return ViewState(done) == view_state::kCompleted; }, kDeadline));
    ASSERT_TRUE(WaitUntil([&] { return ServiceSaw(DownloadPrefix("Stay1")); }, kDeadline));

    // The program starts again: the tracker runs before the engine has loaded its tasks.
    GetTransMgr()->ShutdownEngine();
    Recorder early;
    Recorder earlyOnce;
    tracker->AddWindow(&early);
    tracker->AddWindow(&early);
    tracker->AddWindow(&earlyOnce);
    ASSERT_TRUE(tracker->Start(0));
    std::map<QString, CTaskViewInfo> tasks{{"kept", CTaskViewInfo()}};
    tracker->GetAllTasks(tasks);
    EXPECT_EQ(tasks.size(), 1u);
    EXPECT_TRUE(tasks.count("kept"));
    StartEngine();
    ASSERT_TRUE(WaitPumping([&] { return tracker->IsLoaded() && early.loaded > 0; }));

    Recorder late;
    tracker->AddWindow(&late);
    tracker->AddWindow(&late);
    tracker->GetAllTasks(tasks);
    ASSERT_EQ(tasks.size(), 1u);
    ASSERT_TRUE(tasks.count(stay));
    EXPECT_EQ(tasks[stay].taskId, stay);
    EXPECT_EQ(tasks[stay].targetPath, Saved("stay.bin"));
    EXPECT_NE(tasks[stay].viewState, view_state::kCompleted);
    ASSERT_TRUE(WaitUntil([&] { return !InEngine(done); }, kDeadline));

    // The remaining task completes and stays in the engine until the next start, for its
    // detail window; by then every report of the deleted one has been through the tracker.
    m_server->ClearFaults();
    ASSERT_TRUE(WaitPumping([&] { return late.Saw(stay, view_state::kCompleted); }));
    EXPECT_TRUE(InEngine(stay));
    tracker.reset();
    QCoreApplication::sendPostedEvents();

    EXPECT_EQ(early.loaded, 1);
    EXPECT_EQ(earlyOnce.loaded, 1);
    EXPECT_EQ(late.loaded, 1);
    EXPECT_EQ(early.changes.size(), earlyOnce.changes.size());
    EXPECT_FALSE(early.SawKey(done));
    for (const Recorder::Change& change : early.changes) {
        EXPECT_EQ(change.record.taskId, change.key);
        EXPECT_NE(change.record.viewState, view_state::kAbsent);
    }
}

TEST_F(TrackerTest, AddedTasksGetFreeNamesArePostedAndStayInTheEngineWhenComplete) {
    testing_support::WriteFile(Saved("report.pdf").toStdString(), "old");
    testing_support::WriteFile(Saved("report (1).pdf").toStdString(), "old");
    ASSERT_TRUE(fs::create_directory(Saved("photos").toStdString()));
    CParvexTaskMgr tracker(&m_bridge, kPoll);
    Recorder window;
    tracker.AddWindow(&window);
    ASSERT_TRUE(tracker.Start(0));
    // A task that completes before the start-up load would be deleted unseen.
    ASSERT_TRUE(WaitPumping([&] { return window.loaded == 1; }));

    const QString docToken = Token("Doc1");
    const QString picsToken = Token("Pics1");
    const LinkItem doc = Item("Doc1", docToken);
    const std::vector<AddedTask> docs = tracker.AddDownloadTasks({doc}, SaveFolder(), docToken);
    const std::vector<AddedTask> pics =
        tracker.AddDownloadTasks({Item("Pics1", picsToken)}, SaveFolder(), picsToken);
    ASSERT_EQ(docs.size(), 1u);
    ASSERT_EQ(pics.size(), 1u);
    EXPECT_EQ(docs[0].itemPath, "/report.pdf");
    EXPECT_EQ(docs[0].localPath, Saved("report (2).pdf"));
    EXPECT_EQ(pics[0].localPath, Saved("photos (1)"));
    EXPECT_EQ(docs[0].errorCode, 0);
    EXPECT_EQ(TaskAddress(docs[0].taskId), (doc.metadataUrl + "?token=" + docToken).toStdString());

    for (const AddedTask& added : {docs[0], pics[0]}) {
        SCOPED_TRACE(added.localPath.toStdString());
        ASSERT_TRUE(WaitPumping([&] { return window.Saw(added.taskId, view_state::kCompleted); }));
        EXPECT_TRUE(InEngine(added.taskId));
    }
    EXPECT_EQ(fs::file_size(Saved("report (2).pdf").toStdString()), 5000u);
    EXPECT_EQ(fs::file_size(Saved("photos (1)/sub/b.jpg").toStdString()), 2000u);
    EXPECT_EQ(testing_support::ReadFile(Saved("report.pdf").toStdString()), "old");

    // Every report goes through the tracker before those of a task added afterwards.
    const QString later = AddLink(tracker, "Note1").taskId;
    ASSERT_TRUE(WaitPumping([&] { return window.SawKey(later); }));
    for (const Recorder::Change& change : window.changes) {
        EXPECT_NE(change.record.viewState, view_state::kAbsent) << change.key.toStdString();
        if (change.key == docs[0].taskId) {
            EXPECT_EQ(change.record.targetPath, docs[0].localPath);
        }
    }
}

TEST_F(TrackerTest, ANameThatIsNotPlainCreatesNothing) {
    CParvexTaskMgr tracker(&m_bridge, kPoll);
    const LinkItem good = Item("Note1", Token("Note1"));
    std::vector<LinkItem> items;
    for (const char* path : {"/..", "/.", "/", "", "/Root/..\\..\\x", "/Root/a\\b"}) {
        LinkItem bad = good;
        bad.path = path;
        items.push_back(bad);
    }
    const std::vector<AddedTask> refused = tracker.AddDownloadTasks(items, SaveFolder(), "T");
    ASSERT_EQ(refused.size(), items.size());
    for (const AddedTask& added : refused) {
        SCOPED_TRACE(added.itemPath.toStdString());
        EXPECT_EQ(added.errorCode, engine_code::kInvalidNameFromServer);
        EXPECT_TRUE(added.taskId.isEmpty());
        EXPECT_TRUE(added.localPath.isEmpty());
    }

    // Without a token the task address is the metadata URL alone.
    const std::vector<AddedTask> added = tracker.AddDownloadTasks({good}, SaveFolder(), "");
    ASSERT_EQ(added.size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return InEngine(added[0].taskId); }, kDeadline));
    EXPECT_EQ(m_bridge.GetTaskIds(), QStringList{added[0].taskId});
    EXPECT_EQ(TaskAddress(added[0].taskId), good.metadataUrl.toStdString());
    for (const fs::directory_entry& entry : fs::directory_iterator(m_save.Path())) {
        EXPECT_EQ(entry.path().filename(), "save");
    }
}

TEST_F(TrackerTest, AReceiverDestroyedWhileTheTrackerPostsIsLeftAlone) {
    m_server->AddFault(Fault::SlowBody(DownloadPrefix("Slow1"), 100, 4096));
    CParvexTaskMgr tracker(&m_bridge, kPoll);
    auto gone = std::make_unique<Recorder>();
    Recorder staying;
    tracker.AddWindow(gone.get());
    tracker.AddWindow(&staying);
    ASSERT_TRUE(tracker.Start(0));
    ASSERT_TRUE(WaitPumping([&] { return staying.loaded == 1; }));
    const QString slow = AddLink(tracker, "Slow1").taskId;

    // Events for both are queued, undelivered, while the download runs.
    ASSERT_TRUE(
        WaitUntil([&] { return m_bridge.GetTaskView(slow).completedBytes > 0; }, kDeadline));
    gone.reset();
    ASSERT_TRUE(WaitPumping([&] { return staying.Saw(slow, view_state::kCompleted); }));
    EXPECT_EQ(staying.loaded, 1);
}

TEST_F(TrackerTest, SubTaskTrackerPostsEverySubTaskThenItsChanges) {
    m_server->AddFault(Fault::Make(DownloadPrefix("Pics1/sub/b.jpg"), FaultKind::Hang));
    CParvexTaskMgr tracker(&m_bridge, kPoll);
    const QString task = AddLink(tracker, "Pics1").taskId;
    ASSERT_TRUE(
        WaitUntil([&] { return ServiceSaw(DownloadPrefix("Pics1/sub/b.jpg")); }, kDeadline));

    std::set<QString> expected;
    for (const QString& id : m_bridge.GetSubTaskIds(task)) {
        const QString target = m_bridge.GetSubTaskView(task, id).targetPath;
        if (!target.isEmpty()) {
            expected.insert(target);
        }
    }
    const QString hanging = Saved("photos/sub/b.jpg");
    ASSERT_TRUE(expected.count(Saved("photos/a.jpg")));
    ASSERT_TRUE(expected.count(Saved("photos/empty")));
    ASSERT_TRUE(expected.count(hanging));

    auto subTasks = std::make_unique<CParvexSubTaskMgr>(task, &m_bridge, kPoll);
    Recorder twice;
    Recorder once;
    subTasks->AddWindow(&twice);
    subTasks->AddWindow(&twice);
    subTasks->AddWindow(&once);
    ASSERT_TRUE(subTasks->Start(0));
    ASSERT_TRUE(WaitPumping([&] {
        std::set<QString> seen;
        for (const Recorder::Change& change : twice.changes) {
            seen.insert(change.key);
        }
        return seen == expected;
    }));
    EXPECT_FALSE(twice.Saw(hanging, view_state::kCompleted));

    m_server->ClearFaults();
    ASSERT_TRUE(WaitPumping([&] { return twice.Saw(hanging, view_state::kCompleted); }));
    subTasks.reset();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(twice.changes.size(), once.changes.size());
    for (const Recorder::Change& change : twice.changes) {
        EXPECT_EQ(change.key, change.record.targetPath);
        EXPECT_NE(change.record.viewState, view_state::kAbsent);
    }
}

// Both wait an hour between passes here: only a wait that a stop request cuts short lets them
// end within the deadline.
TEST_F(TrackerTest, TrackersEndPromptlyWhileTheyWait) {
    auto tracker = std::make_unique<CParvexTaskMgr>(&m_bridge, 1h);
    ASSERT_TRUE(tracker->Start(0));
    ASSERT_TRUE(WaitUntil([&] { return tracker->IsLoaded(); }, kDeadline));
    const QString token = Token("Pics1");
    const LinkItem folder = Item("Pics1", token);
    // A task whose listing never comes stays in preparation.
    m_server->AddFault(Fault::Make("/v2/delivery/metadata/Pics1", FaultKind::Hang));
    m_server->ClearRequests();
    const std::vector<AddedTask> added = tracker->AddDownloadTasks({folder}, SaveFolder(), token);
    ASSERT_EQ(added.size(), 1u);
    const QString task = added[0].taskId;
    ASSERT_TRUE(WaitUntil([&] { return ViewState(task) == view_state::kPreparing; }, kDeadline));

    auto subTasks = std::make_unique<CParvexSubTaskMgr>(task, &m_bridge, 1h);
    Recorder window;
    subTasks->AddWindow(&window);
    ASSERT_TRUE(subTasks->Start(0));
    ASSERT_TRUE(WaitUntil([&] { return ServiceSaw("/v2/delivery/metadata/Pics1"); }, kDeadline));

    std::atomic<bool> ended{false};
    std::thread ending([&] {
        subTasks.reset();
        tracker.reset();
        ended = true;
    });
    const bool endedInTime = WaitUntil([&] { return ended.load(); }, 10s);
    if (!endedInTime) {
        ending.detach(); // the objects are still in use; the failure is reported below
        FAIL() << "a tracker did not end on its stop request";
    }
    ending.join();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(window.changes.empty());
}

} // namespace
