// What a task list row shows for each panel mode and view state.
#include "app/language.h"
#include "views/task_row_view.h"

#include <gtest/gtest.h>

namespace {

using task_row::StateCell;

CTaskViewInfo Record(int viewState) {
    CTaskViewInfo record;
    record.viewState = viewState;
    record.size = 12'345'678 + 1000;
    record.completedBytes = 1000;
    record.speed = 1000;
    record.errorText = "Disk full";
    return record;
}

TEST(TaskRowView, ModesShowTheirRecords) {
    struct Case {
        int mode;
        int viewState;
        bool isFolder;
        bool shown;
    } const cases[] = {
        {task_row::kModeAll, view_state::kError, false, true},
        {task_row::kModeAll, view_state::kAbsent, false, true},
        {task_row::kModeAll, view_state::kWorking, true, true},
        {task_row::kModeInProgress, view_state::kWorking, false, true},
        {task_row::kModeInProgress, view_state::kPaused, false, true},
        {task_row::kModeInProgress, view_state::kPreparing, false, true},
        {task_row::kModeInProgress, view_state::kError, false, false},
        {task_row::kModeInProgress, view_state::kCompleted, false, false},
        {task_row::kModeCompleted, view_state::kCompleted, false, true},
        {task_row::kModeCompleted, view_state::kWorking, false, false},
        {task_row::kModeFailed, view_state::kError, false, true},
        {task_row::kModeFailed, view_state::kPaused, false, false},
        // A folder task's folders are counted on no detail tab.
        {task_row::kModeInProgress, view_state::kWorking, true, false},
        {task_row::kModeCompleted, view_state::kCompleted, true, false},
        {task_row::kModeFailed, view_state::kError, true, false},
    };
    for (const Case& c : cases) {
        CTaskViewInfo record = Record(c.viewState);
        record.isFolder = c.isFolder;
        EXPECT_EQ(task_row::ModeShows(c.mode, record), c.shown)
            << c.mode << " " << c.viewState << " " << c.isFolder;
    }
}

TEST(TaskRowView, StateCellByModeAndViewState) {
    ApplyLanguage(kLanguageEnglish);
    struct Case {
        int mode;
        int viewState;
        StateCell::Kind kind;
        const char* text;
    } const cases[] = {
        {task_row::kModeAll, view_state::kNone, StateCell::Kind::kText, "Wait"},
        {task_row::kModeAll, view_state::kPaused, StateCell::Kind::kText, "Pause"},
        {task_row::kModeAll, 2, StateCell::Kind::kText, "Pause"},
        {task_row::kModeAll, view_state::kError, StateCell::Kind::kText, "Error：Disk full"},
        {task_row::kModeAll, view_state::kCompleted, StateCell::Kind::kText, "Complete"},
        {task_row::kModeAll, view_state::kPreparing, StateCell::Kind::kUnchanged, ""},
        {task_row::kModeAll, view_state::kAbsent, StateCell::Kind::kUnchanged, ""},
        {task_row::kModeCompleted, view_state::kWorking, StateCell::Kind::kText, "Complete"},
        {task_row::kModeFailed, view_state::kWorking, StateCell::Kind::kText, "Error：Disk full"},
    };
    for (const Case& c : cases) {
        const StateCell cell = task_row::StateCellFor(c.mode, Record(c.viewState));
        EXPECT_EQ(cell.kind, c.kind) << c.mode << " " << c.viewState;
        EXPECT_EQ(cell.text, QString::fromUtf8(c.text)) << c.mode << " " << c.viewState;
    }

    const StateCell working =
        task_row::StateCellFor(task_row::kModeInProgress, Record(view_state::kWorking));
    EXPECT_EQ(working.kind, StateCell::Kind::kProgress);
    EXPECT_EQ(working.percent, 0);
    EXPECT_EQ(working.leftText, QStringLiteral("1 KB/S")); // 1000 bytes per second
    EXPECT_EQ(working.rightText, QStringLiteral("Remain：03:25:45"));

    ApplyLanguage(kLanguageChinese);
    EXPECT_EQ(task_row::StateCellFor(task_row::kModeAll, Record(view_state::kPaused)).text,
              QStringLiteral("暂停"));
}

TEST(TaskRowView, RetranslationTouchesOnlyStateWords) {
    ApplyLanguage(kLanguageChinese);
    EXPECT_EQ(task_row::RetranslatedStateText("Pause"), QStringLiteral("暂停"));
    EXPECT_EQ(task_row::RetranslatedStateText(QStringLiteral("大于1天")),
              QStringLiteral("大于1天"));
    EXPECT_EQ(task_row::RetranslatedStateText(QStringLiteral("Error：Disk full")),
              QStringLiteral("Error：Disk full"));
    ApplyLanguage(kLanguageEnglish);
    EXPECT_EQ(task_row::RetranslatedStateText(QStringLiteral("完成")), QStringLiteral("Complete"));
    EXPECT_EQ(task_row::RetranslatedStateText(QStringLiteral("等待")), QStringLiteral("Wait"));
}

TEST(TaskRowView, ColumnWidthsFollowTheirWeights) {
    EXPECT_EQ(task_row::ColumnWidths(800), (std::array<int, 4>{300, 100, 200, 198}));
    EXPECT_EQ(task_row::ColumnWidths(81), (std::array<int, 4>{30, 10, 20, 19}));
}

} // namespace
