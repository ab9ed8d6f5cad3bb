// The task list panel and the detail dialog fed with records, as the trackers would feed them.
#include "app/engine_bridge.h"
#include "app/language.h"
#include "gui_wait.h"
#include "tracking/front_events.h"
#include "views/detail_dlg.h"
#include "views/detail_dlg_manager.h"
#include "views/sub_dlg_task_list.h"
#include "views/x_list_ctrl.h"

#include <QKeyEvent>
#include <QPointer>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using gui_testing::WaitPumping;
using namespace std::chrono_literals;

constexpr int kState = 3; // the state column

class CountSpy : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == FrontEventType(kMsgItemCountChanged)) {
            ++count;
            return true;
        }
        return QObject::event(event);
    }
    int count = 0;
};

CTaskViewInfo Record(const QString& taskId, const QString& target, int viewState,
                     bool folder = false) {
    CTaskViewInfo record;
    record.taskId = taskId;
    record.targetPath = target;
    record.info.targetPath = target;
    record.viewState = viewState;
    record.isFolder = folder;
    record.size = 10 * 1048576;
    record.completedBytes = 4 * 1048576;
    record.speed = 1048576;
    record.addTime = 1700000000000;
    record.errorText = "Disk full";
    return record;
}

class TaskViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ApplyLanguage(kLanguageEnglish);
        CDetailDlgManager::Instance().SetBridge(&m_bridge);
    }
    void TearDown() override {
        CDetailDlgManager::Instance().CloseAll();
        WaitPumping([] { return CDetailDlgManager::Instance().OpenCount() == 0; });
    }

    CEngineBridge m_bridge{nullptr}; // an engine that has no tasks
};

TEST_F(TaskViewsTest, RowsShowNameSizeTimeAndState) {
    CSubDlgTaskList panel;
    CXListCtrl& list = panel.List();
    panel.Apply("t1", Record("t1", "/save/movie.mkv", view_state::kWorking));
    ASSERT_EQ(panel.RowCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 0), "movie.mkv");
    EXPECT_EQ(list.GetItemText(0, 1), "10.00 MB");
    EXPECT_FALSE(list.GetItemText(0, 2).isEmpty());
    const XListCell* state = list.Cell(0, kState);
    EXPECT_TRUE(state->progressShown);
    EXPECT_EQ(state->percent, 40);
    EXPECT_EQ(state->leftText, "1.00 MB/S");
    EXPECT_EQ(state->rightText, "Remain：00:00:06");

    panel.Apply("t1", Record("t1", "/save/movie.mkv", view_state::kPaused));
    EXPECT_EQ(panel.RowCount(), 1);
    EXPECT_FALSE(list.Cell(0, kState)->progressShown);
    EXPECT_EQ(list.GetItemText(0, kState), "Pause");

    const QString longName = QString(66, 'n') + ".docx";
    panel.Apply("t2", Record("t2", "/save/" + longName, view_state::kError, /*folder=*/true));
    EXPECT_EQ(list.GetItemText(1, 0), longName);
    EXPECT_EQ(list.GetItemToolTipText(1, 0), QString(60, 'n') + "....docx");
    EXPECT_EQ(list.GetItemText(1, 1), QString()) << "a folder shows no size";
    EXPECT_EQ(list.GetItemText(1, kState), "Error：Disk full");
    EXPECT_EQ(panel.GetAllTaskIds(), QStringList({"t1", "t2"}));
    EXPECT_EQ(panel.GetFailedTaskIds(), QStringList({"t2"}));
}

TEST_F(TaskViewsTest, ASubTaskMovesFromTheInProgressPanelToTheCompletedOne) {
    CSubDlgTaskList inProgress, completed;
    CountSpy inProgressSpy, completedSpy;
    inProgress.SetMode(task_row::kModeInProgress);
    completed.SetMode(task_row::kModeCompleted);
    inProgress.SetNotifyWindow(&inProgressSpy);
    completed.SetNotifyWindow(&completedSpy);
    const QString key = "/save/photos/a.jpg";
    for (CSubDlgTaskList* panel : {&inProgress, &completed}) {
        panel->Apply(key, Record("t1", key, view_state::kWorking));
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(inProgress.RowCount(), 1);
    EXPECT_EQ(completed.RowCount(), 0);
    inProgressSpy.count = completedSpy.count = 0;

    for (CSubDlgTaskList* panel : {&inProgress, &completed}) {
        panel->Apply(key, Record("t1", key, view_state::kCompleted));
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(inProgress.RowCount(), 0);
    ASSERT_EQ(completed.RowCount(), 1);
    EXPECT_EQ(completed.List().GetItemText(0, kState), "Complete");
    EXPECT_EQ(inProgressSpy.count, 1);
    EXPECT_EQ(completedSpy.count, 1);
}

TEST_F(TaskViewsTest, RetranslationChangesTitlesAndStateWordsOnly) {
    CSubDlgTaskList panel;
    panel.Apply("t1", Record("t1", "/save/a.bin", view_state::kPaused));
    panel.Apply("t2", Record("t2", "/save/b.bin", view_state::kError));
    ApplyLanguage(kLanguageChinese);
    panel.Retranslate();
    EXPECT_EQ(panel.List().GetColumnTitle(0), QStringLiteral("文件名"));
    EXPECT_EQ(panel.List().GetColumnTitle(2), QStringLiteral("添加时间"));
    EXPECT_EQ(panel.List().GetItemText(0, kState), QStringLiteral("暂停"));
    EXPECT_EQ(panel.List().GetItemText(1, kState), "Error：Disk full");
    ApplyLanguage(kLanguageEnglish);
    panel.Retranslate();
    EXPECT_EQ(panel.List().GetColumnTitle(3), "Progress");
    EXPECT_EQ(panel.List().GetItemText(0, kState), "Pause");
}

TEST_F(TaskViewsTest, DeletingSelectedTasksClosesTheirDetailDialogs) {
    CSubDlgTaskList panel;
    CountSpy spy;
    panel.SetNotifyWindow(&spy);
    const CTaskViewInfo kept = Record("t1", "/save/kept", view_state::kPaused, true);
    const CTaskViewInfo gone = Record("t2", "/save/gone", view_state::kPaused, true);
    panel.Apply("t1", kept);
    panel.Apply("t2", gone);
    panel.Apply("t3", Record("t3", "/save/c.bin", view_state::kCompleted));
    CDetailDlgManager& details = CDetailDlgManager::Instance();
    details.OpenDetails(gone);
    details.OpenDetails(kept);
    QPointer<CDetailDlg> dialog = details.Find(gone);
    ASSERT_TRUE(dialog);
    QCoreApplication::sendPostedEvents();
    spy.count = 0;

    panel.List().SelectRow(1);
    panel.List().SelectRow(2);
    panel.DeleteSelected(&m_bridge);
    EXPECT_EQ(panel.GetAllTaskIds(), QStringList({"t1"}));
    EXPECT_EQ(details.Find(gone), nullptr);
    EXPECT_TRUE(WaitPumping([&] { return dialog.isNull(); })) << "the dialog closes and goes";
    EXPECT_NE(details.Find(kept), nullptr);
    EXPECT_EQ(spy.count, 1);

    panel.DeleteSelected(&m_bridge); // nothing selected
    EXPECT_EQ(panel.RowCount(), 1);
}

// Applies a sub-task record to every tab, as the sub-task tracker posts it to all three.
void ApplyToTabs(CDetailDlg& dialog, const CTaskViewInfo& record) {
    for (int tab = CDetailDlg::kFailedTab; tab <= CDetailDlg::kInProgressTab; ++tab) {
        dialog.Panel(tab).Apply(record.targetPath, record);
    }
}

TEST_F(TaskViewsTest, DetailTabsCountTheirRowsInTheCurrentLanguage) {
    const CTaskViewInfo task = Record("t1", "/save/photos", view_state::kWorking, true);
    CDetailDlgManager& details = CDetailDlgManager::Instance();
    details.OpenDetails(task);
    CDetailDlg* dialog = details.Find(task);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Task Detail - /save/photos");
    EXPECT_EQ(dialog->Tabs().currentIndex(), CDetailDlg::kFailedTab);
    const auto titles = [&] {
        QStringList texts;
        for (int tab = 0; tab < 3; ++tab) {
            texts << dialog->Tabs().tabText(tab);
        }
        return texts;
    };
    EXPECT_EQ(titles(), QStringList({"Error（0）", "Complete（0）", "Downloading（0）"}));

    ApplyToTabs(*dialog, Record("t1", "/save/photos/a.jpg", view_state::kWorking));
    ApplyToTabs(*dialog, Record("t1", "/save/photos/b.jpg", view_state::kCompleted));
    EXPECT_TRUE(WaitPumping([&] {
        return titles() == QStringList({"Error（0）", "Complete（1）", "Downloading（1）"});
    })) << titles().join(" ").toStdString();
    ApplyToTabs(*dialog, Record("t1", "/save/photos/a.jpg", view_state::kError));
    EXPECT_TRUE(WaitPumping([&] {
        return titles() == QStringList({"Error（1）", "Complete（1）", "Downloading（0）"});
    })) << titles().join(" ").toStdString();

    ApplyLanguage(kLanguageChinese);
    details.RetranslateAll();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("任务详情 - /save/photos"));
    EXPECT_EQ(titles(), QStringList({QStringLiteral("错误（1）"), QStringLiteral("完成（1）"),
                                     QStringLiteral("正在（0）")}));
}

TEST_F(TaskViewsTest, OneDetailDialogPerTaskThatEscapeOnlyHides) {
    const CTaskViewInfo task = Record("t1", "/save/photos", view_state::kWorking, true);
    CDetailDlgManager& details = CDetailDlgManager::Instance();
    details.OpenDetails(task);
    QPointer<CDetailDlg> dialog = details.Find(task);
    ASSERT_TRUE(dialog);
    details.OpenDetails(task);
    EXPECT_EQ(details.OpenCount(), 1);
    // Another task whose path differs in letter case is another folder here.
    details.OpenDetails(Record("t2", "/save/Photos", view_state::kWorking, true));
    EXPECT_EQ(details.OpenCount(), 2);

    QTest::keyClick(dialog.data(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(details.Find(task), dialog.data());
    details.OpenDetails(task);
    EXPECT_TRUE(dialog->isVisible());

    dialog->close();
    EXPECT_TRUE(WaitPumping([&] { return dialog.isNull(); }));
    EXPECT_EQ(details.Find(task), nullptr);
    EXPECT_EQ(details.OpenCount(), 1);
}

} // namespace
