// The main window over a real engine downloading from the in-process service: the whole Add
// road through both dialogs, the buttons, the detail dialogs and the language switch.
#include "app/about_dlg.h"
#include "app/data_folders.h"
#include "app/engine_bridge.h"
#include "app/language.h"
#include "app/message_box.h"
#include "app/parvex_dlg.h"
#include "app/settings.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "gui_wait.h"
#include "intake/add_dlg.h"
#include "intake/select_file.h"
#include "service_server.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"
#include "tracking/parvex_task_mgr.h"
#include "views/detail_dlg.h"
#include "views/detail_dlg_manager.h"
#include "views/sub_dlg_task_list.h"
#include "views/x_list_ctrl.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using gui_testing::WaitPumping;
using parvex_service::Fault;
using parvex_service::FaultKind;
using testing_support::ScopedEnv;
using testing_support::TempDir;

constexpr int kState = 3;
constexpr auto kPoll = 200ms;

constexpr char kScenario[] = R"({"links": [
  {"code": "Big1", "password": "pw", "item": {"name": "Big", "children": [
    {"name": "movie.bin", "size": 2097152},
    {"name": "note.txt", "size": 100}]}},
  {"code": "Pics1", "item": {"name": "photos", "children": [
    {"name": "a.jpg", "size": 3000},
    {"name": "b.bin", "size": 5000}]}},
  {"code": "Many1", "item": {"name": "many", "children": [{"name": "sub", "children": []}],
    "generate": {"count": 3000, "size": 1, "prefix": "m"}}}
]})";

CTaskViewInfo FakeTask(const QString& id, const QString& target, bool folder) {
    CTaskViewInfo record;
    record.taskId = id;
    record.targetPath = target;
    record.isFolder = folder;
    record.viewState = view_state::kPaused;
    return record;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ApplyLanguage(kLanguageEnglish);
        m_server = testing_support::StartScenarioServer(kScenario);
        ASSERT_TRUE(m_server);
        m_base = QString::fromStdString(m_server->BaseUrl());
        ASSERT_TRUE(fs::create_directory(m_save.File("save")));

        CTovuTransMgr* mgr = GetTransMgr();
        mgr->SetOption(kOptionDataFolder, m_data.Path().c_str());
        mgr->SetOption(kOptionLanguage, "en");
        ASSERT_EQ(mgr->StartEngine(), 0);
        m_bridge.Pool().Start(0);
        CDetailDlgManager::Instance().SetBridge(&m_bridge);
        CDetailDlgManager::Instance().SetPollInterval(kPoll);
        SetMessageHandler([this](QWidget*, const QString& text) { m_messages << text; });
    }

    void TearDown() override {
        SetMessageHandler({});
        CDetailDlgManager::Instance().CloseAll();
        WaitPumping([] { return CDetailDlgManager::Instance().OpenCount() == 0; });
        m_window.reset();
        m_tracker.reset();
        GetTransMgr()->ShutdownEngine();
        m_server->Stop();
    }

    // The window over a tracker that starts now: its snapshot holds the engine's tasks.
    CParvexDlg& OpenWindow() {
        m_tracker = std::make_unique<CParvexTaskMgr>(&m_bridge, kPoll);
        m_tracker->Start(0);
        m_window = std::make_unique<CParvexDlg>(m_tracker.get(), &m_bridge);
        m_window->show();
        return *m_window;
    }

    CSubDlgTaskList& Tasks() { return m_window->TaskList(); }
    QString SaveFolder() const { return QString::fromStdString(m_save.File("save")); }

    // The row of the task saved at `localPath`, or -1.
    int RowOf(const QString& localPath) {
        for (int row = 0; row < Tasks().RowCount(); ++row) {
            if (Tasks().RowRecord(row)->targetPath == localPath) {
                return row;
            }
        }
        return -1;
    }
    QString StateText(int row) { return Tasks().List().GetItemText(row, kState); }

    // Adds the link's root as a download task, past the dialogs.
    QString AddLink(const char* code) {
        BridgeStatus status;
        const QString token = m_bridge.AuthenticateLink(m_base, code, QString(), status);
        LinkItem root, all;
        m_bridge.ListLinkTree(m_base, code, token, root, all, status);
        const std::vector<AddedTask> added =
            m_tracker->AddDownloadTasks({root.WithoutChildren()}, SaveFolder(), token);
        EXPECT_EQ(added.size(), 1u);
        return added.empty() ? QString() : added[0].taskId;
    }

    // Runs `command` while each tick answers the modal dialog on top with `answer`.
    void WithModalAnswers(const std::function<void(QWidget*)>& answer,
                          const std::function<void()>& command) {
        QTimer ticks;
        ticks.setInterval(20);
        QObject::connect(&ticks, &QTimer::timeout,
                         [&] { answer(QApplication::activeModalWidget()); });
        ticks.start();
        command();
    }

    // Runs the window as the program does (CParvexDlg::Run) while a timer plays the steps in
    // turn: each acts once its condition holds. The window closes after the last step, or when
    // the deadline passes; false then.
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
    };
    bool RunWindowThrough(const std::vector<Step>& steps,
                          std::chrono::milliseconds deadline = 120s) {
        m_tracker = std::make_unique<CParvexTaskMgr>(&m_bridge, kPoll);
        m_tracker->Start(0);
        m_window = std::make_unique<CParvexDlg>(m_tracker.get(), &m_bridge);
        // The steps start once the list holds the tracker's snapshot, as a user's would.
        bool loaded = false;
        QObject::connect(&Tasks(), &CSubDlgTaskList::snapshotApplied, [&] { loaded = true; });
        std::size_t next = 0;
        const auto end = std::chrono::steady_clock::now() + deadline;
        QTimer ticks;
        ticks.setInterval(20);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            if (next < steps.size() && std::chrono::steady_clock::now() < end) {
                if (loaded && steps[next].ready()) {
                    steps[next++].act();
                }
                return;
            }
            ticks.stop();
            m_window->close();
        });
        ticks.start();
        m_window->Run();
        return next == steps.size();
    }

    // Input as the window system delivers it, to the window that holds the widget: a window
    // that a modal one blocks drops it (events sent to a widget directly would not be).
    static void Click(QWidget* widget, QPoint at) {
        QWidget* top = widget->window();
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, at));
    }
    static void Click(QWidget* widget) { Click(widget, widget->rect().center()); }
    static void Press(QWidget* widget, Qt::Key key) {
        QTest::keyClick(widget->window()->windowHandle(), key);
    }
    static void ClickRow(CXListCtrl& list, int row) {
        Click(list.viewport(), list.visualRect(list.model()->index(row, 0)).center());
    }
    static void ClickTab(QTabWidget& tabs, int tab) {
        Click(tabs.tabBar(), tabs.tabBar()->tabRect(tab).center());
    }

    QStringList TabTitles(CDetailDlg& dialog) {
        QStringList titles;
        for (int tab = 0; tab < dialog.Tabs().count(); ++tab) {
            titles << dialog.Tabs().tabText(tab);
        }
        return titles;
    }

    TempDir m_home;
    ScopedEnv m_env{"PARVEX_HOME", m_home.Path()};
    TempDir m_data;
    TempDir m_save;
    std::unique_ptr<parvex_service::ServiceServer> m_server;
    QString m_base;
    CEngineBridge m_bridge{GetTransMgr()};
    std::unique_ptr<CParvexTaskMgr> m_tracker;
    std::unique_ptr<CParvexDlg> m_window;
    QStringList m_messages;
};

TEST_F(MainWindowTest, AddRoadDownloadsTheCheckedFolderWithProgressInTheList) {
    // Slow enough that the list shows the transfer under way.
    m_server->AddFault(Fault::SlowBody("/v2/delivery/download/Big1/movie.bin", 30, 16384));
    CParvexDlg& window = OpenWindow();
    bool addAnswered = false;
    bool selectAnswered = false;
    WithModalAnswers(
        [&](QWidget* modal) {
            if (auto* add = qobject_cast<CAddDlg*>(modal); add && !addAnswered) {
                add->findChild<QLineEdit*>("linkAddress")
                    ->setText(" " + m_base + "/link/view/Big1 ");
                add->findChild<QLineEdit*>("password")->setText("pw");
                add->findChild<QPushButton*>("ok")->click();
                addAnswered = true;
            } else if (auto* select = qobject_cast<CSelectFile*>(modal);
                       select && !selectAnswered && !select->IsLoading()) {
                CXListCtrl* items = select->findChild<CXListCtrl*>("items");
                ASSERT_EQ(items->GetItemCount(), 1);
                EXPECT_EQ(items->GetItemText(0, 1), "Big");
                items->SetCheckbox(0, 0, 1);
                select->findChild<QLineEdit*>("saveFolder")->setText(SaveFolder());
                select->findChild<QPushButton*>("ok")->click();
                selectAnswered = true;
            }
        },
        [&] { window.OnAdd(); });
    ASSERT_TRUE(addAnswered && selectAnswered);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join("\n").toStdString();
    EXPECT_EQ(ReadSetting(kSettingDeliveryUrl, ""), (m_base + "/link/view/Big1").toStdString());
    EXPECT_EQ(ReadSetting(kSettingSavePath, ""), SaveFolder().toStdString());

    const QString local = SaveFolder() + "/Big";
    bool sawProgress = false;
    ASSERT_TRUE(WaitPumping([&] {
        const int row = RowOf(local);
        if (row < 0) {
            return false;
        }
        const XListCell* cell = Tasks().List().Cell(row, kState);
        if (cell->progressShown && cell->leftText.endsWith("/S") &&
            cell->rightText.startsWith("Remain：")) {
            sawProgress = true;
        }
        return StateText(row) == "Complete";
    })) << (RowOf(local) < 0 ? "no row" : StateText(RowOf(local)).toStdString());
    EXPECT_TRUE(sawProgress);
    const int row = RowOf(local);
    EXPECT_EQ(Tasks().List().GetItemText(row, 0), "Big");
    EXPECT_FALSE(Tasks().List().Cell(row, kState)->progressShown);
    EXPECT_EQ(fs::file_size((local + "/movie.bin").toStdString()), 2097152u);
    EXPECT_EQ(fs::file_size((local + "/note.txt").toStdString()), 100u);
}

TEST_F(MainWindowTest, EnterStartsTheAddCommand) {
    CParvexDlg& window = OpenWindow();
    bool sawAddDialog = false;
    WithModalAnswers(
        [&](QWidget* modal) {
            if (auto* add = qobject_cast<CAddDlg*>(modal)) {
                sawAddDialog = true;
                add->reject();
            }
        },
        [&] { QTest::keyClick(&window, Qt::Key_Return); });
    EXPECT_TRUE(sawAddDialog);
}

TEST_F(MainWindowTest, TasksLeftPausedStartOnceTheSnapshotArrives) {
    m_server->AddFault(Fault::Make("/v2/delivery/download/Pics1/b.bin", FaultKind::Hang));
    m_tracker = std::make_unique<CParvexTaskMgr>(&m_bridge, kPoll);
    const QString id = AddLink("Pics1");
    m_bridge.PauseTask(id);
    ASSERT_TRUE(
        WaitPumping([&] { return m_bridge.GetTaskView(id).viewState == view_state::kPaused; }));
    m_server->ClearFaults();
    m_tracker.reset();
    OpenWindow();
    EXPECT_TRUE(WaitPumping([&] {
        const int row = RowOf(SaveFolder() + "/photos");
        return row >= 0 && StateText(row) == "Complete";
    }));
}

TEST_F(MainWindowTest, ASubTaskMovesFromTheDownloadingTabToTheErrorTab) {
    const std::string stuck = "/v2/delivery/download/Pics1/b.bin";
    m_server->AddFault(Fault::Make(stuck, FaultKind::Hang));
    CParvexDlg& window = OpenWindow();
    const QString id = AddLink("Pics1");
    const QString local = SaveFolder() + "/photos";
    ASSERT_TRUE(WaitPumping([&] { return RowOf(local) >= 0; }));
    Tasks().List().SelectRow(RowOf(local));
    window.OnDetail();
    EXPECT_TRUE(m_messages.isEmpty());
    CDetailDlg* dialog = CDetailDlgManager::Instance().Find(*Tasks().RowRecord(RowOf(local)));
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(WaitPumping(
        [&] {
            return TabTitles(*dialog) ==
                   QStringList({"Error（0）", "Complete（1）", "Downloading（1）"});
        },
        20s))
        << TabTitles(*dialog).join(" ").toStdString();

    // The stuck file is asked for again and refused for good.
    m_bridge.PauseTask(id);
    ASSERT_TRUE(
        WaitPumping([&] { return m_bridge.GetTaskView(id).viewState == view_state::kPaused; }));
    m_server->ClearFaults();
    m_server->AddFault(Fault::Error(stuck, "forbidden", "Not for you", 403));
    m_bridge.StartTask(id);
    EXPECT_TRUE(WaitPumping([&] {
        return TabTitles(*dialog) ==
               QStringList({"Error（1）", "Complete（1）", "Downloading（0）"});
    })) << TabTitles(*dialog).join(" ").toStdString();
    CSubDlgTaskList& failed = dialog->Panel(CDetailDlg::kFailedTab);
    ASSERT_EQ(failed.RowCount(), 1);
    EXPECT_EQ(failed.List().GetItemText(0, 0), "b.bin");
    EXPECT_EQ(failed.List().GetItemText(0, kState), "Error：Not for you");
}

// The detail window is used with the mouse and the keyboard while the main window runs as the
// program runs it: a window blocked by the main one drops these events. Its tabs count the
// files of the folder: all of a finished one as complete, and the folders never.
TEST_F(MainWindowTest, DetailWindowTakesTheMouseBesideTheRunningWindowAndCountsFiles) {
    // The big folder's files stay in progress.
    m_server->AddFault(Fault::Make("/v2/delivery/download/Many1/", FaultKind::Hang));
    QString many;
    QPointer<CDetailDlg> dialog;
    const auto openDetails = [&](const QString& localPath, std::function<bool()> ready) {
        return Step{
            [this, localPath, ready] { return RowOf(localPath) >= 0 && ready(); },
            [this, localPath, &dialog] {
                ClickRow(Tasks().List(), RowOf(localPath));
                QTest::mouseClick(m_window->findChild<QPushButton*>("detail"), Qt::LeftButton);
                dialog = CDetailDlgManager::Instance().Find(*Tasks().RowRecord(RowOf(localPath)));
            }};
    };
    const auto titlesAre = [&](const QStringList& titles) {
        return [&dialog, titles, this] { return dialog && TabTitles(*dialog) == titles; };
    };
    const QString photos = SaveFolder() + "/photos";
    QStringList seen;
    const bool done = RunWindowThrough({
        {[] { return true; }, [&] { AddLink("Pics1"); }},
        openDetails(photos, [&] { return StateText(RowOf(photos)) == "Complete"; }),
        {titlesAre({"Error（0）", "Complete（2）", "Downloading（0）"}),
         [&] { ClickTab(dialog->Tabs(), CDetailDlg::kCompletedTab); }},
        {[&] { return dialog->Tabs().currentIndex() == CDetailDlg::kCompletedTab; },
         [&] {
             CXListCtrl& files = dialog->Panel(CDetailDlg::kCompletedTab).List();
             for (int row = 0; row < files.GetItemCount(); ++row) {
                 seen << files.GetItemText(row, 0);
             }
             Press(dialog, Qt::Key_Escape);
         }},
        {[&] { return !dialog->isVisible(); },
         [&] {
             dialog->close();
             many = AddLink("Many1");
         }},
        openDetails(SaveFolder() + "/many",
                    [&] {
                        return dialog.isNull() &&
                               m_bridge.GetTaskView(many).viewState == view_state::kWorking;
                    }),
        {titlesAre({"Error（0）", "Complete（0）", "Downloading（3000）"}),
         [&] { dialog->close(); }},
        // The finished folder still lists its files, however long ago it finished.
        openDetails(photos, [&] { return dialog.isNull(); }),
        {titlesAre({"Error（0）", "Complete（2）", "Downloading（0）"}), [] {}},
    });
    EXPECT_TRUE(done) << (dialog ? TabTitles(*dialog).join(" ").toStdString() : "no dialog");
    seen.sort();
    EXPECT_EQ(seen, QStringList({"a.jpg", "b.bin"}));
}

TEST_F(MainWindowTest, DetailOpensFolderTasksOnlyAndSaysSoOtherwise) {
    CParvexDlg& window = OpenWindow();
    Tasks().Apply("f1", FakeTask("f1", "/save/one.txt", false));
    Tasks().Apply("d1", FakeTask("d1", "/save/folder", true));

    window.OnDetail(); // nothing selected
    Tasks().List().SelectRow(0);
    window.OnDetail(); // a file task only
    EXPECT_EQ(m_messages,
              QStringList({"Please select the folder first", "Please select the folder first"}));
    EXPECT_EQ(CDetailDlgManager::Instance().OpenCount(), 0);

    m_messages.clear();
    Tasks().List().SelectRow(1);
    window.OnDetail();
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(CDetailDlgManager::Instance().OpenCount(), 1);
}

TEST_F(MainWindowTest, RemoveDeletesTheTaskAndClosesItsDetailWindow) {
    CParvexDlg& window = OpenWindow();
    const CTaskViewInfo folder = FakeTask("d1", "/save/folder", true);
    Tasks().Apply("d1", folder);
    Tasks().Apply("f1", FakeTask("f1", "/save/one.txt", false));
    Tasks().List().SelectRow(0);
    window.OnDetail();
    QPointer<CDetailDlg> dialog = CDetailDlgManager::Instance().Find(folder);
    ASSERT_TRUE(dialog);

    window.OnRemove();
    EXPECT_EQ(Tasks().GetAllTaskIds(), QStringList({"f1"}));
    EXPECT_TRUE(WaitPumping([&] { return dialog.isNull(); }));
    window.OnRemove(); // nothing selected: nothing happens
    EXPECT_EQ(Tasks().RowCount(), 1);
}

TEST_F(MainWindowTest, LanguageSwitchRetitlesTheWindowAndOpenDetailDialogs) {
    CParvexDlg& window = OpenWindow();
    EXPECT_EQ(window.windowTitle(), "Parvex");
    EXPECT_GE(window.minimumWidth(), 650);
    EXPECT_GE(window.minimumHeight(), 350);
    const CTaskViewInfo folder = FakeTask("d1", "/save/folder", true);
    Tasks().Apply("d1", folder);
    Tasks().List().SelectRow(0);
    window.OnDetail();
    CDetailDlg* dialog = CDetailDlgManager::Instance().Find(folder);
    ASSERT_NE(dialog, nullptr);

    window.LanguageSelector().setCurrentIndex(kLanguageChinese);
    window.OnLanguageSelected(kLanguageChinese);
    EXPECT_EQ(GetLanguageIndex(), kLanguageChinese);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("链接下载工具"));
    QStringList buttons;
    for (const char* name : {"add", "start", "pause", "remove", "detail"}) {
        buttons << window.findChild<QPushButton*>(name)->text();
    }
    EXPECT_EQ(buttons,
              QStringList({QStringLiteral("添加"), QStringLiteral("开始"), QStringLiteral("暂停"),
                           QStringLiteral("移除"), QStringLiteral("详情")}));
    EXPECT_EQ(StateText(0), QStringLiteral("暂停"));
    EXPECT_EQ(Tasks().List().GetColumnTitle(2), QStringLiteral("添加时间"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("任务详情 - /save/folder"));
    EXPECT_EQ(TabTitles(*dialog).first(), QStringLiteral("错误（0）"));
    EXPECT_EQ(ReadSetting(kSettingLanguage, ""), "cn");

    // The language already active changes nothing and writes nothing.
    fs::remove(GetSettingsFilePath());
    window.OnLanguageSelected(kLanguageChinese);
    EXPECT_FALSE(fs::exists(GetSettingsFilePath()));

    window.LanguageSelector().setCurrentIndex(kLanguageEnglish);
    window.OnLanguageSelected(kLanguageEnglish);
    EXPECT_EQ(window.windowTitle(), "Parvex");
    EXPECT_EQ(dialog->windowTitle(), "Task Detail - /save/folder");
    EXPECT_EQ(ReadSetting(kSettingLanguage, ""), "en");
}

TEST_F(MainWindowTest, PanelFillsTheWindowBelowTheButtons) {
    CParvexDlg& window = OpenWindow();
    window.resize(900, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(Tasks().geometry(),
              QRect(0, CParvexDlg::kPanelTop, 900, 600 - CParvexDlg::kPanelTop));
    const QRect selector = window.LanguageSelector().geometry();
    EXPECT_EQ(selector.right(), 900 - 1 - 3);
    EXPECT_EQ(selector.top(), 3);
    EXPECT_TRUE(window.findChild<QPushButton*>("add")->isDefault());
}

TEST_F(MainWindowTest, F1ShowsTheAboutBox) {
    CParvexDlg& window = OpenWindow();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QString line;
    WithModalAnswers(
        [&](QWidget* modal) {
            if (auto* about = qobject_cast<CAboutDlg*>(modal)) {
                line = about->findChild<QLabel*>("versionLine")->text();
                about->accept();
            }
        },
        [&] { QTest::keyClick(&window, Qt::Key_F1); });
    EXPECT_EQ(line, QStringLiteral("链接下载工具，1.0.0.0"));
}

} // namespace
