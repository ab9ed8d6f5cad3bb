#include "views/sub_dlg_task_list.h"

#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "tracking/front_events.h"
#include "tracking/parvex_task_mgr.h"
#include "views/detail_dlg_manager.h"
#include "views/file_icon_list.h"
#include "views/task_texts.h"
#include "views/x_list_ctrl.h"

#include <QCoreApplication>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kNameColumn = 0;
constexpr int kSizeColumn = 1;
constexpr int kAddTimeColumn = 2;
constexpr int kStateColumn = 3;
// Column titles: texts 11 to 14.
constexpr int kFirstTitleText = 11;

} // namespace

CSubDlgTaskList::CSubDlgTaskList(QWidget* parent) : QWidget(parent), m_list(new CXListCtrl(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    m_list->SetImageList(&FileIconList::Instance());
    m_list->SetShowSelectionAlways(true);
    // Titles before the first language pass.
    m_list->InsertColumn(kNameColumn, QStringLiteral("文件名"), Qt::AlignLeft);
    m_list->InsertColumn(kSizeColumn, QStringLiteral("大小"), Qt::AlignRight);
    m_list->InsertColumn(kAddTimeColumn, QStringLiteral("添加时间"), Qt::AlignLeft);
    m_list->InsertColumn(kStateColumn, QStringLiteral("进度"), Qt::AlignLeft);
}

CSubDlgTaskList::~CSubDlgTaskList() = default;

void CSubDlgTaskList::Retranslate() {
    for (int column = kNameColumn; column <= kStateColumn; ++column) {
        m_list->SetColumnTitle(column, GetLangText(kFirstTitleText + column));
    }
    for (int row = 0; row < m_list->GetItemCount(); ++row) {
        const QString text = m_list->GetItemText(row, kStateColumn);
        m_list->SetItemText(row, kStateColumn, task_row::RetranslatedStateText(text));
    }
}

void CSubDlgTaskList::Apply(const QString& key, const CTaskViewInfo& record) {
    if (!task_row::ModeShows(m_mode, record)) {
        RemoveRow(key);
        return;
    }
    int row = RowOf(key);
    if (row < 0) {
        row = AddRow(key, record);
    }
    UpdateRow(row, record);
}

int CSubDlgTaskList::AddRow(const QString& key, const CTaskViewInfo& record) {
    // A record whose row left the list is added again.
    m_rows.erase(key);
    const int row = m_list->InsertItem(m_list->GetItemCount(), QString());
    auto stored = std::make_unique<CTaskViewInfo>(record);
    m_list->SetItemData(row, reinterpret_cast<quintptr>(stored.get()));
    m_rows.emplace(key, std::move(stored));
    NotifyCountChanged();
    return row;
}

void CSubDlgTaskList::RemoveRow(const QString& key) {
    const int row = RowOf(key);
    if (row < 0) {
        return;
    }
    m_list->DeleteItem(row);
    m_rows.erase(key);
    NotifyCountChanged();
}

int CSubDlgTaskList::RowOf(const QString& key) const {
    const auto found = m_rows.find(key);
    return found == m_rows.end()
               ? -1
               : m_list->FindItemByData(reinterpret_cast<quintptr>(found->second.get()));
}

void CSubDlgTaskList::UpdateRow(int row, const CTaskViewInfo& record) {
    auto* stored = reinterpret_cast<CTaskViewInfo*>(m_list->GetItemData(row));
    if (!stored) {
        return;
    }
    *stored = record;
    // One repaint for the whole row.
    m_list->setUpdatesEnabled(false);
    const QString name = DisplayName(record.targetPath);
    m_list->SetItemText(row, kNameColumn, name);
    m_list->SetItemToolTipText(row, kNameColumn, ShortenedName(name));
    m_list->SetItemImage(row, kNameColumn,
                         FileIconList::Instance().IndexFor(name, record.isFolder));
    if (!record.isFolder) {
        m_list->SetItemText(row, kSizeColumn, SizeText(record.size));
    }
    m_list->SetItemText(row, kAddTimeColumn, DateText(record.addTime));

    const task_row::StateCell cell = task_row::StateCellFor(m_mode, record);
    switch (cell.kind) {
    case task_row::StateCell::Kind::kText:
        m_list->DeleteProgress(row, kStateColumn);
        m_list->SetItemText(row, kStateColumn, cell.text);
        break;
    case task_row::StateCell::Kind::kProgress:
        m_list->SetProgress(row, kStateColumn, true);
        m_list->UpdateProgress(row, kStateColumn, cell.percent, cell.leftText, cell.rightText);
        break;
    case task_row::StateCell::Kind::kUnchanged:
        break;
    }
    m_list->setUpdatesEnabled(true);
}

const CTaskViewInfo* CSubDlgTaskList::RowRecord(int row) const {
    return reinterpret_cast<const CTaskViewInfo*>(m_list->GetItemData(row));
}

int CSubDlgTaskList::RowCount() const {
    return m_list->GetItemCount();
}

QStringList CSubDlgTaskList::GetAllTaskIds() const {
    QStringList ids;
    for (int row = 0; row < RowCount(); ++row) {
        ids << RowRecord(row)->taskId;
    }
    return ids;
}

QStringList CSubDlgTaskList::GetFailedTaskIds() const {
    QStringList ids;
    for (int row = 0; row < RowCount(); ++row) {
        if (RowRecord(row)->viewState == view_state::kError) {
            ids << RowRecord(row)->taskId;
        }
    }
    return ids;
}

QStringList CSubDlgTaskList::GetSelectedTaskIds() const {
    QStringList ids;
    for (int row : m_list->GetSelectedRows()) {
        ids << RowRecord(row)->taskId;
    }
    return ids;
}

std::vector<CTaskViewInfo> CSubDlgTaskList::GetSelectedRecords() const {
    std::vector<CTaskViewInfo> records;
    for (int row : m_list->GetSelectedRows()) {
        records.push_back(*RowRecord(row));
    }
    return records;
}

void CSubDlgTaskList::DeleteSelected(CEngineBridge* bridge) {
    if (!bridge) {
        bridge = CEngineBridge::Instance();
    }
    if (!bridge) {
        return;
    }
    std::vector<int> rows = m_list->GetSelectedRows();
    if (rows.empty()) {
        return;
    }
    // From the highest row, so the rows still to do keep their indices.
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows) {
        const CTaskViewInfo* record = RowRecord(row);
        bridge->DeleteTask(record->taskId);
        CDetailDlgManager::Instance().CloseDetails(*record);
        std::erase_if(m_rows, [record](const auto& entry) { return entry.second.get() == record; });
        m_list->DeleteItem(row);
    }
    NotifyCountChanged();
}

void CSubDlgTaskList::NotifyCountChanged() {
    if (m_notify) {
        QCoreApplication::postEvent(m_notify, new CFrontEvent(kMsgItemCountChanged));
    }
}

bool CSubDlgTaskList::event(QEvent* event) {
    if (event->type() == FrontEventType(kMsgTaskLoaded)) {
        if (m_tracker) {
            std::map<QString, CTaskViewInfo> snapshot;
            m_tracker->GetAllTasks(snapshot);
            for (const auto& [key, record] : snapshot) {
                Apply(key, record);
            }
            emit snapshotApplied();
        }
        return true;
    }
    if (event->type() == FrontEventType(kMsgTaskChanged) ||
        event->type() == FrontEventType(kMsgSubTaskChanged)) {
        auto* changed = static_cast<CTaskChangedEvent*>(event);
        if (std::unique_ptr<CTaskViewInfo> record = changed->TakeRecord()) {
            Apply(changed->Key(), *record);
        }
        return true;
    }
    return QWidget::event(event);
}

void CSubDlgTaskList::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutColumns();
}

void CSubDlgTaskList::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    LayOutColumns();
}

void CSubDlgTaskList::LayOutColumns() {
    const auto widths = task_row::ColumnWidths(m_list->width() - 2 * m_list->frameWidth());
    for (int column = 0; column < static_cast<int>(widths.size()); ++column) {
        m_list->setColumnWidth(column, std::max(widths[static_cast<std::size_t>(column)], 0));
    }
}
