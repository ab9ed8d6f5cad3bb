#pragma once

#include "tracking/task_view_info.h"
#include "views/task_row_view.h"

#include <QStringList>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

class CEngineBridge;
class CParvexTaskMgr;
class CXListCtrl;

// A borderless panel filled by one progress list: a row per task (the main window) or per
// sub-task (the detail dialog's tabs), created, updated and removed only from the records the
// trackers post to it.
class CSubDlgTaskList : public QWidget {
    Q_OBJECT
public:
    explicit CSubDlgTaskList(QWidget* parent = nullptr);
    ~CSubDlgTaskList() override;

    // Which records the panel shows (task_row::kMode*); set before any record arrives.
    void SetMode(int mode) { m_mode = mode; }
    int Mode() const { return m_mode; }
    // Receives "parvex_msg_item_count_changed" whenever rows come or go.
    void SetNotifyWindow(QObject* window) { m_notify = window; }
    // Where "parvex_msg_task_loaded" takes its snapshot from.
    void SetTaskSource(const CParvexTaskMgr* tracker) { m_tracker = tracker; }

    void Retranslate();

    // Applies a tracker's (key, record) pair: the row is added, updated or, when the mode
    // excludes the record, removed.
    void Apply(const QString& key, const CTaskViewInfo& record);

    QStringList GetAllTaskIds() const;
    QStringList GetFailedTaskIds() const;
    QStringList GetSelectedTaskIds() const;
    std::vector<CTaskViewInfo> GetSelectedRecords() const;
    // Deletes the selected tasks from the engine and the list, highest row first, and closes
    // their detail dialogs. Nothing without a bridge (null: the process's bridge).
    void DeleteSelected(CEngineBridge* bridge = nullptr);

    int RowCount() const;
    CXListCtrl& List() { return *m_list; }
    // The row's record, or null.
    const CTaskViewInfo* RowRecord(int row) const;

signals:
    // The tracker's start-up snapshot has been applied.
    void snapshotApplied();

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The new row's index.
    int AddRow(const QString& key, const CTaskViewInfo& record);
    void RemoveRow(const QString& key);
    void UpdateRow(int row, const CTaskViewInfo& record);
    int RowOf(const QString& key) const;
    void NotifyCountChanged();
    void LayOutColumns();

    CXListCtrl* m_list;
    int m_mode = task_row::kModeAll;
    QObject* m_notify = nullptr;
    const CParvexTaskMgr* m_tracker = nullptr;
    // One record per row, by key; each row's item data points at its record.
    std::map<QString, std::unique_ptr<CTaskViewInfo>> m_rows;
};
