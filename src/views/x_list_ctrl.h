#pragma once

#include "views/x_list_cell.h"

#include <QTreeView>

#include <vector>

class CXHeaderCtrl;
class CXListModel;
class FileIconList;

// The report-style list of the task views and the selection dialog. It keeps a record per
// cell and draws every cell itself: icons, colours, bold text, check boxes with a check-all
// box in the header, and progress cells with a bar in the upper half and two short texts in
// the lower half. Rows are 32 pixels high. Every operation ignores an index outside the list.
class CXListCtrl : public QTreeView {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 32;

    explicit CXListCtrl(QWidget* parent = nullptr);
    ~CXListCtrl() override;

    // Columns.
    int InsertColumn(int column, const QString& title, Qt::Alignment alignment = Qt::AlignLeft,
                     int width = 100);
    int GetColumnCount() const;
    void SetColumnTitle(int column, const QString& title);
    QString GetColumnTitle(int column) const;
    // 0 none, 1 an empty check box, 2 a checked one.
    void SetHeaderCheckbox(int column, int value);
    int GetHeaderCheckbox(int column) const;

    // The icons that cell images index; none draws no icons.
    void SetImageList(const FileIconList* icons) { m_icons = icons; }
    // Whether a selected row keeps a visible selection while the list has no focus.
    void SetShowSelectionAlways(bool show) { m_showSelectionAlways = show; }
    // Whether texts that do not fit end with an ellipsis (on by default).
    void SetEllipsis(bool on);

    // Rows.
    int GetItemCount() const;
    // Inserts a row before `row` (the end when past it); the new index, or -1.
    int InsertItem(int row, const QString& text);
    bool DeleteItem(int row);
    void DeleteAllItems();

    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    bool SetItemToolTipText(int row, int column, const QString& text);
    // The tooltip as shown: at most 79 characters.
    QString GetItemToolTipText(int row, int column) const;
    bool SetItemImage(int row, int column, int image);
    int GetItemImage(int row, int column) const;
    bool SetItemColors(int row, int column, const QColor& text, const QColor& back);
    bool SetBold(int row, int column, bool bold);
    bool SetEnabled(int row, bool enabled);
    bool IsEnabled(int row) const;

    // Sets the check state (-1 removes the box) and brings the column's header box up to date.
    bool SetCheckbox(int row, int column, int state);
    int GetCheckbox(int row, int column) const;

    // Makes the cell a progress cell at 0 %; a cell that already is one keeps its state.
    bool SetProgress(int row, int column, bool showText = true, const QString& text = {});
    bool UpdateProgress(int row, int column, int percent, const QString& leftText,
                        const QString& rightText);
    bool DeleteProgress(int row, int column);

    quintptr GetItemData(int row) const;
    bool SetItemData(int row, quintptr data);
    // The first row whose user data is `data`, or -1.
    int FindItemByData(quintptr data) const;

    // The cell's record, or null outside the list.
    const XListCell* Cell(int row, int column) const;

    // Selected rows in ascending order.
    std::vector<int> GetSelectedRows() const;
    void SelectRow(int row, bool selected = true);

    bool IsModified() const { return m_modified; }
    void ClearModified() { m_modified = false; }

    // The colours a cell is drawn in (selection and disabled rows applied).
    void CellColors(int row, int column, QColor& text, QColor& back) const;

signals:
    // The user toggled the check box of a cell.
    void checkboxClicked(int row, int column);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    friend class CXListDelegate;

    void OnHeaderCheckbox(int column);
    // 2 when every row with a box in the column is checked, else 1; unchanged without a box.
    void UpdateHeaderCheckbox(int column);

    CXListModel* m_cells;
    CXHeaderCtrl* m_header;
    const FileIconList* m_icons = nullptr;
    bool m_showSelectionAlways = false;
    bool m_ellipsis = true;
    bool m_modified = false;
};
