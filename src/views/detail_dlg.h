#pragma once

#include "tracking/task_view_info.h"

#include <QDialog>

#include <array>
#include <chrono>
#include <memory>

class CEngineBridge;
class CParvexSubTaskMgr;
class CSubDlgTaskList;
class QTabWidget;

// The sub-tasks of one folder task on three tabs (failed, completed, in progress), each title
// counting its rows. Modeless and top-level; it owns the sub-task tracker that feeds its
// panels. Escape only hides it; closing it stops the tracker and frees it.
class CDetailDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFailedTab = 0;
    static constexpr int kCompletedTab = 1;
    static constexpr int kInProgressTab = 2;
    // Longest wait for the tracker to stop when the dialog closes.
    static constexpr std::chrono::milliseconds kStopBound{2000};

    // Follows the sub-tasks of `task` through `bridge` (null: the process's bridge).
    CDetailDlg(const CTaskViewInfo& task, CEngineBridge* bridge,
               std::chrono::milliseconds pollInterval);
    ~CDetailDlg() override;

    // Window title, tab titles and the panels' texts in the current language.
    void Retranslate();

    const CTaskViewInfo& Task() const { return m_task; }
    CSubDlgTaskList& Panel(int tab) { return *m_panels[static_cast<std::size_t>(tab)]; }
    QTabWidget& Tabs() { return *m_tabs; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateTabTitles();
    void StopTracker();

    const CTaskViewInfo m_task; // as it was when the dialog opened
    QTabWidget* m_tabs;
    std::array<CSubDlgTaskList*, 3> m_panels{};
    std::unique_ptr<CParvexSubTaskMgr> m_tracker;
};
