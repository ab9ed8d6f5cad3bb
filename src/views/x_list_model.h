#pragma once

#include "views/x_list_cell.h"

#include <QAbstractTableModel>

#include <vector>

// One column of the progress list.
struct XListColumn {
    QString title;
    Qt::Alignment alignment = Qt::AlignLeft;
    int headerCheck = header_check::kNone;
};

// The cell records of the progress list, row by row; every row holds one cell per column.
class CXListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Inserts a column before `column` (clamped to the end); the new index.
    int InsertColumn(int column, XListColumn record);
    XListColumn* Column(int column);
    const XListColumn* Column(int column) const;
    void ColumnChanged(int column);

    // Inserts a row before `row` (clamped to the end) with fresh cells; the new index.
    int InsertRow(int row, const XListCell& prototype);
    bool RemoveRow(int row);
    void Clear();

    // The cell, or null for an index outside the table.
    XListCell* Cell(int row, int column);
    const XListCell* Cell(int row, int column) const;
    void CellChanged(int row, int column);
    void RowChanged(int row);

private:
    std::vector<XListColumn> m_columns;
    std::vector<std::vector<XListCell>> m_rows;
};
