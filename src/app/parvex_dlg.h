#pragma once

#include <QDialog>

class CEngineBridge;
class CParvexTaskMgr;
class CSubDlgTaskList;
class QComboBox;
class QPushButton;

// The program's one top-level window: Add, Start, Pause, Remove and Detail acting on the rows
// of the task list below them, and the language selector at the top right.
class CParvexDlg : public QDialog {
    Q_OBJECT
public:
    // The selector's items, never translated; an item's index is its language index.
    static constexpr const char* kLanguageItems[] = {"English(US)", "中文（简体）"};
    static constexpr int kPanelTop = 50;
    static constexpr int kMinimumWidth = 650;
    static constexpr int kMinimumHeight = 350;

    // Without a tracker the list stays empty and Add creates nothing; a null bridge stands for
    // the process's bridge.
    explicit CParvexDlg(CParvexTaskMgr* tracker, CEngineBridge* bridge, QWidget* parent = nullptr);
    ~CParvexDlg() override;

    // Shows the window and returns once it is closed. The window is modeless, unlike a dialog
    // run with exec(): the detail windows it opens have no owner and must take input beside it.
    int Run();

    // Texts of this window, its list and every detail dialog in the current language; every
    // refresh retries the failed tasks.
    void RefreshTexts();

    void OnAdd();
    void OnStart();
    void OnPause();
    void OnRemove();
    void OnDetail();
    void OnLanguageSelected(int item);
    void ShowAbout();

    CSubDlgTaskList& TaskList() { return *m_panel; }
    QComboBox& LanguageSelector() { return *m_language; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void StartEveryTask();

    CParvexTaskMgr* m_tracker;
    CEngineBridge* m_bridge;
    QPushButton* m_add;
    QPushButton* m_start;
    QPushButton* m_pause;
    QPushButton* m_remove;
    QPushButton* m_detail;
    QComboBox* m_language;
    CSubDlgTaskList* m_panel;
};
