#include "views/x_list_ctrl.h"

#include "views/file_icon_list.h"
#include "views/x_header_ctrl.h"
#include "views/x_list_model.h"
#include "views/x_list_painter.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

// Draws every cell from its record.
class CXListDelegate : public QStyledItemDelegate {
public:
    explicit CXListDelegate(CXListCtrl* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const XListCell* cell = m_list->Cell(index.row(), index.column());
        if (!cell) {
            return;
        }
        const QPalette& palette = m_list->palette();
        XListColors colors;
        colors.text = palette.color(QPalette::Text);
        colors.back = palette.color(QPalette::Base);
        colors.highlight = palette.color(QPalette::Highlight);
        colors.highlightText = palette.color(QPalette::HighlightedText);
        colors.buttonFace = palette.color(QPalette::Button);
        colors.shadow = palette.color(QPalette::Dark);
        colors.light = palette.color(QPalette::Light);
        colors.grayText = palette.color(QPalette::Disabled, QPalette::Text);

        XCellLook look;
        m_list->CellColors(index.row(), index.column(), look.text, look.back);
        const XListColumn* column = m_list->m_cells->Column(index.column());
        look.alignment = column ? column->alignment : Qt::AlignLeft;
        look.disabled = !m_list->IsEnabled(index.row());
        look.elide = m_list->m_ellipsis;

        if (cell->progressShown) {
            DrawProgressCell(*painter, option.rect, *cell, look, colors);
        } else if (cell->checkState >= 0) {
            DrawCheckboxCell(*painter, option.rect, *cell, look, colors);
        } else {
            const QIcon icon = m_list->m_icons ? m_list->m_icons->Icon(cell->image) : QIcon();
            DrawTextCell(*painter, option.rect, *cell, look, icon);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(CXListCtrl::kRowHeight);
        return size;
    }

private:
    CXListCtrl* m_list;
};

CXListCtrl::CXListCtrl(QWidget* parent)
    : QTreeView(parent), m_cells(new CXListModel(this)), m_header(new CXHeaderCtrl(m_cells, this)) {
    setHeader(m_header);
    setModel(m_cells);
    setItemDelegate(new CXListDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(FileIconList::kIconSize, FileIconList::kIconSize));
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setSectionsClickable(true); // the view turns clicks off while it is not sorting
    connect(m_header, &CXHeaderCtrl::checkboxClicked, this, &CXListCtrl::OnHeaderCheckbox);
}

CXListCtrl::~CXListCtrl() = default;

int CXListCtrl::InsertColumn(int column, const QString& title, Qt::Alignment alignment, int width) {
    const int added = m_cells->InsertColumn(column, XListColumn{title, alignment});
    setColumnWidth(added, width);
    return added;
}

int CXListCtrl::GetColumnCount() const {
    return m_cells->columnCount();
}

void CXListCtrl::SetColumnTitle(int column, const QString& title) {
    if (XListColumn* record = m_cells->Column(column)) {
        record->title = title;
        m_cells->ColumnChanged(column);
    }
}

QString CXListCtrl::GetColumnTitle(int column) const {
    const XListColumn* record = m_cells->Column(column);
    return record ? record->title : QString();
}

void CXListCtrl::SetHeaderCheckbox(int column, int value) {
    if (XListColumn* record = m_cells->Column(column)) {
        record->headerCheck = std::clamp(value, header_check::kNone, header_check::kChecked);
        m_cells->ColumnChanged(column);
        m_header->viewport()->update();
    }
}

int CXListCtrl::GetHeaderCheckbox(int column) const {
    const XListColumn* record = m_cells->Column(column);
    return record ? record->headerCheck : header_check::kNone;
}

void CXListCtrl::SetEllipsis(bool on) {
    m_ellipsis = on;
    viewport()->update();
}

int CXListCtrl::GetItemCount() const {
    return m_cells->rowCount();
}

int CXListCtrl::InsertItem(int row, const QString& text) {
    if (GetColumnCount() == 0 || row < 0) {
        return -1;
    }
    const int added = m_cells->InsertRow(row, XListCell{});
    m_cells->Cell(added, 0)->text = text;
    return added;
}

bool CXListCtrl::DeleteItem(int row) {
    return m_cells->RemoveRow(row);
}

void CXListCtrl::DeleteAllItems() {
    m_cells->Clear();
    for (int column = 0; column < GetColumnCount(); ++column) {
        if (GetHeaderCheckbox(column) == header_check::kChecked) {
            SetHeaderCheckbox(column, header_check::kUnchecked);
        }
    }
}

bool CXListCtrl::SetItemText(int row, int column, const QString& text) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    if (cell->text != text) {
        cell->text = text;
        m_cells->CellChanged(row, column);
    }
    return true;
}

QString CXListCtrl::GetItemText(int row, int column) const {
    const XListCell* cell = Cell(row, column);
    return cell ? cell->text : QString();
}

bool CXListCtrl::SetItemToolTipText(int row, int column, const QString& text) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    cell->tooltip = text;
    return true;
}

QString CXListCtrl::GetItemToolTipText(int row, int column) const {
    const XListCell* cell = Cell(row, column);
    return cell ? cell->tooltip.left(kMaxTooltipLength) : QString();
}

bool CXListCtrl::SetItemImage(int row, int column, int image) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    if (cell->image != image) {
        cell->image = image;
        m_cells->CellChanged(row, column);
    }
    return true;
}

int CXListCtrl::GetItemImage(int row, int column) const {
    const XListCell* cell = Cell(row, column);
    return cell ? cell->image : -1;
}

bool CXListCtrl::SetItemColors(int row, int column, const QColor& text, const QColor& back) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    cell->textColor = text;
    cell->backColor = back;
    m_cells->CellChanged(row, column);
    return true;
}

bool CXListCtrl::SetBold(int row, int column, bool bold) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    cell->bold = bold;
    m_cells->CellChanged(row, column);
    return true;
}

bool CXListCtrl::SetEnabled(int row, bool enabled) {
    XListCell* cell = m_cells->Cell(row, 0);
    if (!cell) {
        return false;
    }
    cell->enabled = enabled;
    m_cells->RowChanged(row);
    return true;
}

bool CXListCtrl::IsEnabled(int row) const {
    const XListCell* cell = Cell(row, 0);
    return cell && cell->enabled;
}

bool CXListCtrl::SetCheckbox(int row, int column, int state) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    cell->checkState = std::clamp(state, -1, 1);
    m_cells->CellChanged(row, column);
    UpdateHeaderCheckbox(column);
    return true;
}

int CXListCtrl::GetCheckbox(int row, int column) const {
    const XListCell* cell = Cell(row, column);
    return cell ? cell->checkState : -1;
}

bool CXListCtrl::SetProgress(int row, int column, bool showText, const QString& text) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    if (!cell->progressShown) {
        cell->progressShown = true;
        cell->percent = 0;
        cell->showProgressText = showText;
        cell->progressText = text;
        m_cells->CellChanged(row, column);
    }
    return true;
}

bool CXListCtrl::UpdateProgress(int row, int column, int percent, const QString& leftText,
                                const QString& rightText) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    cell->percent = std::clamp(percent, 0, 100);
    cell->leftText = leftText;
    cell->rightText = rightText;
    m_cells->CellChanged(row, column);
    return true;
}

bool CXListCtrl::DeleteProgress(int row, int column) {
    XListCell* cell = m_cells->Cell(row, column);
    if (!cell) {
        return false;
    }
    if (cell->progressShown) {
        cell->progressShown = false;
        cell->percent = 0;
        m_cells->CellChanged(row, column);
    }
    return true;
}

quintptr CXListCtrl::GetItemData(int row) const {
    const XListCell* cell = Cell(row, 0);
    return cell ? cell->userData : 0;
}

bool CXListCtrl::SetItemData(int row, quintptr data) {
    XListCell* cell = m_cells->Cell(row, 0);
    if (!cell) {
        return false;
    }
    cell->userData = data;
    return true;
}

int CXListCtrl::FindItemByData(quintptr data) const {
    for (int row = 0; row < GetItemCount(); ++row) {
        if (GetItemData(row) == data) {
            return row;
        }
    }
    return -1;
}

const XListCell* CXListCtrl::Cell(int row, int column) const {
    return m_cells->Cell(row, column);
}

std::vector<int> CXListCtrl::GetSelectedRows() const {
    std::vector<int> rows;
    if (!selectionModel()) {
        return rows;
    }
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CXListCtrl::SelectRow(int row, bool selected) {
    if (row < 0 || row >= GetItemCount() || GetColumnCount() == 0) {
        return;
    }
    selectionModel()->select(m_cells->index(row, 0), (selected ? QItemSelectionModel::Select
                                                               : QItemSelectionModel::Deselect) |
                                                         QItemSelectionModel::Rows);
}

void CXListCtrl::CellColors(int row, int column, QColor& text, QColor& back) const {
    const XListCell* cell = Cell(row, column);
    const QPalette& colors = palette();
    text = cell && cell->textColor.isValid() ? cell->textColor : colors.color(QPalette::Text);
    back = cell && cell->backColor.isValid() ? cell->backColor : colors.color(QPalette::Base);
    if (!IsEnabled(row)) {
        text = colors.color(QPalette::Disabled, QPalette::Text);
    }
    const bool selected = selectionModel() && selectionModel()->isRowSelected(row, {});
    if (!selected) {
        return;
    }
    if (hasFocus()) {
        back = colors.color(QPalette::Highlight);
        text = colors.color(QPalette::HighlightedText);
    } else if (m_showSelectionAlways) {
        back = colors.color(QPalette::Button);
        text = colors.color(QPalette::Text);
    }
}

void CXListCtrl::mousePressEvent(QMouseEvent* event) {
    const QModelIndex at = indexAt(event->position().toPoint());
    if (at.isValid() && !IsEnabled(at.row())) {
        return; // neither selected nor toggled
    }
    if (at.isValid() && event->button() == Qt::LeftButton) {
        XListCell* cell = m_cells->Cell(at.row(), at.column());
        if (cell && cell->checkState >= 0) {
            cell->checkState = cell->checkState == 1 ? 0 : 1;
            cell->modified = true;
            m_modified = true;
            m_cells->CellChanged(at.row(), at.column());
            UpdateHeaderCheckbox(at.column());
            emit checkboxClicked(at.row(), at.column());
        }
    }
    QTreeView::mousePressEvent(event);
}

void CXListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex at = indexAt(event->position().toPoint());
    const XListCell* cell = at.isValid() ? Cell(at.row(), at.column()) : nullptr;
    // A quick second click on a check box toggles it again rather than opening the row.
    if (cell && cell->checkState >= 0) {
        mousePressEvent(event);
        return;
    }
    if (at.isValid() && !IsEnabled(at.row())) {
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void CXListCtrl::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex at = indexAt(event->pos());
    if (at.isValid() && !IsEnabled(at.row())) {
        return;
    }
    QTreeView::contextMenuEvent(event);
}

QModelIndex CXListCtrl::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex before = currentIndex();
    const QModelIndex target = QTreeView::moveCursor(cursorAction, modifiers);
    if (!target.isValid() || IsEnabled(target.row())) {
        return target;
    }
    // Never rest on a disabled row: go on in the same direction, turning back at the end.
    const int step = before.isValid() && target.row() < before.row() ? -1 : 1;
    for (int direction : {step, -step}) {
        for (int row = target.row() + direction; row >= 0 && row < GetItemCount();
             row += direction) {
            if (IsEnabled(row)) {
                return m_cells->index(row, target.column());
            }
        }
    }
    return before;
}

void CXListCtrl::OnHeaderCheckbox(int column) {
    const int value = GetHeaderCheckbox(column) == header_check::kChecked ? header_check::kUnchecked
                                                                          : header_check::kChecked;
    const int state = value == header_check::kChecked ? 1 : 0;
    for (int row = 0; row < GetItemCount(); ++row) {
        XListCell* cell = m_cells->Cell(row, column);
        if (cell->checkState >= 0) {
            cell->checkState = state;
            cell->modified = true;
            m_modified = true;
        }
    }
    if (GetItemCount() > 0) {
        emit m_cells->dataChanged(m_cells->index(0, column),
                                  m_cells->index(GetItemCount() - 1, column));
    }
    SetHeaderCheckbox(column, value);
}

void CXListCtrl::UpdateHeaderCheckbox(int column) {
    if (GetHeaderCheckbox(column) == header_check::kNone) {
        return;
    }
    bool all = false;
    for (int row = 0; row < GetItemCount(); ++row) {
        const int state = Cell(row, column)->checkState;
        if (state == 0) {
            all = false;
            break;
        }
        all = all || state == 1;
    }
    SetHeaderCheckbox(column, all ? header_check::kChecked : header_check::kUnchecked);
}
