#pragma once

#include <QHeaderView>

class CXListModel;

// The progress list's header: draws each column's check box (when the column has one) before
// its title, and reports clicks on such a column so the list can check or clear every row.
class CXHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    CXHeaderCtrl(CXListModel* model, QWidget* parent);

signals:
    void checkboxClicked(int column);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    CXListModel* m_cells;
};
