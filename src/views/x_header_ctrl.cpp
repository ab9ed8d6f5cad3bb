#include "views/x_header_ctrl.h"

#include "views/x_list_model.h"
#include "views/x_list_painter.h"

#include <QPainter>

namespace {
constexpr int kGap = 6;
}

CXHeaderCtrl::CXHeaderCtrl(CXListModel* model, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), m_cells(model) {
    setSectionsClickable(true);
    setHighlightSections(false);
    // A click, not the end of a resize drag.
    connect(this, &QHeaderView::sectionClicked, this, [this](int column) {
        const XListColumn* record = m_cells->Column(column);
        if (record && record->headerCheck != header_check::kNone) {
            emit checkboxClicked(column);
        }
    });
}

void CXHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    const XListColumn* column = m_cells->Column(logicalIndex);
    if (!column) {
        return;
    }
    const QPalette& colors = palette();
    painter->save();
    painter->fillRect(rect, colors.color(QPalette::Button));

    int left = rect.left() + kGap;
    if (column->headerCheck != header_check::kNone) {
        const int top = rect.top() + (rect.height() - kHeaderCheckBoxSize) / 2;
        DrawCheckBox(
            *painter,
            QPoint(rect.left() +
                       (column->title.isEmpty() ? (rect.width() - kHeaderCheckBoxSize) / 2 : kGap),
                   top),
            kHeaderCheckBoxSize, column->headerCheck == header_check::kChecked,
            colors.color(QPalette::Base), kCheckMark);
        left += kHeaderCheckBoxSize + kGap;
    }
    const QRect titleArea(QPoint(left, rect.top()), QPoint(rect.right() - kGap, rect.bottom()));
    if (!column->title.isEmpty() && titleArea.width() > 0) {
        painter->setPen(colors.color(QPalette::ButtonText));
        const QString title =
            painter->fontMetrics().elidedText(column->title, Qt::ElideRight, titleArea.width());
        painter->drawText(titleArea,
                          static_cast<int>((column->alignment & Qt::AlignHorizontal_Mask) |
                                           Qt::AlignVCenter | Qt::TextSingleLine),
                          title);
    }
    // Two-line separator at the right edge, 2 pixels shorter at each end.
    painter->setPen(colors.color(QPalette::Dark));
    painter->drawLine(rect.right() - 1, rect.top() + 2, rect.right() - 1, rect.bottom() - 2);
    painter->setPen(colors.color(QPalette::Light));
    painter->drawLine(rect.right(), rect.top() + 2, rect.right(), rect.bottom() - 2);
    painter->setPen(colors.color(QPalette::Dark));
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    painter->restore();
}
