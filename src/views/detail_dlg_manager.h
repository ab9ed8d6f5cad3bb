#pragma once

#include "tracking/task_view_info.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <map>
#include <mutex>

class CDetailDlg;
class CEngineBridge;

// The open detail dialogs, one per task, keyed by the task's target path (exact: local file
// names are case-sensitive here). Window thread; its lock keeps lookups, registration and
// removal safe against the language pass walking the registry.
class CDetailDlgManager {
public:
    // The process's manager, created on first use.
    static CDetailDlgManager& Instance();

    // Shows the task's dialog, creating it when none is open.
    void OpenDetails(const CTaskViewInfo& task);
    // Closes the task's dialog if one is open.
    void CloseDetails(const CTaskViewInfo& task);
    void RetranslateAll();
    // Closes every open dialog at once (shutdown: before the engine goes).
    void CloseAll();

    // The open dialog of a task, or null.
    CDetailDlg* Find(const CTaskViewInfo& task);
    int OpenCount();
    // A closing dialog leaves the registry (only its own entry).
    void Unregister(const CDetailDlg* dialog);

    // What new dialogs follow their sub-tasks through; tests use their own engine and a short
    // poll interval.
    void SetBridge(CEngineBridge* bridge) { m_bridge = bridge; }
    void SetPollInterval(std::chrono::milliseconds interval) { m_pollInterval = interval; }

private:
    std::mutex m_mutex;
    std::map<QString, QPointer<CDetailDlg>> m_dialogs;
    CEngineBridge* m_bridge = nullptr;
    std::chrono::milliseconds m_pollInterval{2000};
};
