#include "views/x_list_model.h"

#include <algorithm>

int CXListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CXListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant CXListModel::data(const QModelIndex& index, int role) const {
    const XListCell* cell = Cell(index.row(), index.column());
    if (!cell) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return cell->text;
    case Qt::ToolTipRole:
        return cell->tooltip.left(kMaxTooltipLength);
    case Qt::CheckStateRole:
        return cell->checkState < 0 ? QVariant()
                                    : QVariant(cell->checkState == 1 ? Qt::Checked : Qt::Unchecked);
    default:
        return {};
    }
}

QVariant CXListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const XListColumn* column = orientation == Qt::Horizontal ? Column(section) : nullptr;
    if (!column) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return column->title;
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(column->alignment | Qt::AlignVCenter);
    }
    return {};
}

int CXListModel::InsertColumn(int column, XListColumn record) {
    column = std::clamp(column, 0, columnCount());
    beginInsertColumns({}, column, column);
    m_columns.insert(m_columns.begin() + column, std::move(record));
    for (std::vector<XListCell>& row : m_rows) {
        row.insert(row.begin() + column, XListCell{});
    }
    endInsertColumns();
    return column;
}

XListColumn* CXListModel::Column(int column) {
    return column >= 0 && column < columnCount() ? &m_columns[static_cast<std::size_t>(column)]
                                                 : nullptr;
}

const XListColumn* CXListModel::Column(int column) const {
    return const_cast<CXListModel*>(this)->Column(column);
}

void CXListModel::ColumnChanged(int column) {
    if (Column(column)) {
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
}

int CXListModel::InsertRow(int row, const XListCell& prototype) {
    row = std::clamp(row, 0, rowCount());
    beginInsertRows({}, row, row);
    m_rows.insert(m_rows.begin() + row,
                  std::vector<XListCell>(static_cast<std::size_t>(columnCount()), prototype));
    endInsertRows();
    return row;
}

bool CXListModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) {
        return false;
    }
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
    return true;
}

void CXListModel::Clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

XListCell* CXListModel::Cell(int row, int column) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return nullptr;
    }
    return &m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

const XListCell* CXListModel::Cell(int row, int column) const {
    return const_cast<CXListModel*>(this)->Cell(row, column);
}

void CXListModel::CellChanged(int row, int column) {
    if (Cell(row, column)) {
        const QModelIndex at = index(row, column);
        emit dataChanged(at, at);
    }
}

void CXListModel::RowChanged(int row) {
    if (row >= 0 && row < rowCount() && columnCount() > 0) {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}
