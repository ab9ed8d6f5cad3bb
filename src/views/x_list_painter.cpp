#include "views/x_list_painter.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

void DrawLine(QPainter& painter, const QRect& area, const QString& text, Qt::Alignment alignment,
              const QColor& color, bool elide) {
    if (text.isEmpty() || area.width() <= 0) {
        return;
    }
    const QString shown =
        elide ? painter.fontMetrics().elidedText(text, Qt::ElideRight, area.width()) : text;
    painter.setPen(color);
    painter.drawText(area, static_cast<int>(alignment | Qt::AlignVCenter | Qt::TextSingleLine),
                     shown);
}

// The area of a cell's text, inside its margins.
QRect TextArea(const QRect& area) {
    return area.adjusted(kTextMargin, 0, -kTextMargin, 0);
}

} // namespace

QString ProgressBarText(const XListCell& record) {
    return record.progressText.isEmpty() ? QStringLiteral("%1%").arg(record.percent)
                                         : record.progressText;
}

void DrawProgressCell(QPainter& painter, const QRect& cell, const XListCell& record,
                      const XCellLook& look, const XListColors& colors) {
    painter.save();
    painter.fillRect(cell, look.back);

    // The bar fills the upper half, 3 pixels inside the cell.
    const QRect bar(QPoint(cell.left() + 3, cell.top() + 3),
                    QPoint(cell.right() - 3, cell.top() + cell.height() / 2 - 1));
    if (bar.width() > 2 && bar.height() > 2) {
        painter.fillRect(bar, Qt::white);
        painter.setPen(Qt::black);
        painter.drawLine(bar.topLeft(), bar.topRight());
        painter.drawLine(bar.topLeft(), bar.bottomLeft());
        painter.setPen(colors.shadow);
        painter.drawLine(bar.bottomLeft(), bar.bottomRight());
        painter.drawLine(bar.topRight(), bar.bottomRight());

        const QRect inner = bar.adjusted(1, 1, -1, -1);
        const int percent = std::clamp(record.percent, 0, 100);
        if (percent > 0) {
            QRect done = inner;
            done.setWidth(inner.width() * percent / 100);
            painter.fillRect(done, kProgressGreen);
            if (record.showProgressText) {
                const QString text = ProgressBarText(record);
                const int flags = Qt::AlignCenter | Qt::TextSingleLine;
                painter.save();
                painter.setClipRect(done);
                painter.setPen(colors.highlightText);
                painter.drawText(inner, flags, text);
                painter.restore();
                painter.save();
                painter.setClipRect(
                    QRect(QPoint(done.right() + 1, inner.top()), inner.bottomRight()));
                painter.setPen(look.text);
                painter.drawText(inner, flags, text);
                painter.restore();
            }
        }
    }

    // The lower half: left text on the left, right text on the right.
    const QRect lower =
        TextArea(QRect(QPoint(cell.left(), cell.top() + cell.height() / 2), cell.bottomRight()));
    // The right text keeps its room; the left one gives way, so the two never overlap.
    constexpr int kGap = 6;
    const int rightWidth =
        std::min(painter.fontMetrics().horizontalAdvance(record.rightText), lower.width());
    DrawLine(painter, lower, record.rightText, Qt::AlignRight, look.text, look.elide);
    DrawLine(painter, lower.adjusted(0, 0, -(rightWidth + kGap), 0), record.leftText, Qt::AlignLeft,
             look.text, look.elide);
    painter.restore();
}

void DrawCheckBox(QPainter& painter, const QPoint& topLeft, int size, bool checked,
                  const QColor& fill, const QColor& markColor) {
    const QRect box(topLeft, QSize(size, size));
    painter.fillRect(box, fill);
    painter.setPen(kCheckFrame);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    if (!checked) {
        return;
    }
    // Seven strokes of 3 pixels: four stepping down to the left, three stepping back up.
    painter.setPen(markColor);
    int x = box.left() + 9;
    int y = box.top() + 3;
    for (int i = 0; i < 4; ++i, --x, ++y) {
        painter.drawLine(x, y, x, y + 2);
    }
    for (int i = 0; i < 3; ++i, --x, --y) {
        painter.drawLine(x, y, x, y + 2);
    }
}

void DrawCheckboxCell(QPainter& painter, const QRect& cell, const XListCell& record,
                      const XCellLook& look, const XListColors& colors) {
    painter.save();
    painter.fillRect(cell, look.back);
    const int top = cell.top() + (cell.height() - kCheckBoxSize) / 2;
    const int left =
        record.text.isEmpty() ? cell.left() + (cell.width() - kCheckBoxSize) / 2 : cell.left() + 9;
    DrawCheckBox(painter, QPoint(left, top), kCheckBoxSize, record.checkState == 1, colors.back,
                 look.disabled ? colors.grayText : kCheckMark);
    const QRect text(QPoint(left + kCheckBoxSize + 4, cell.top()), cell.bottomRight());
    DrawLine(painter, text, record.text, Qt::AlignLeft, look.text, look.elide);
    painter.restore();
}

void DrawTextCell(QPainter& painter, const QRect& cell, const XListCell& record,
                  const XCellLook& look, const QIcon& icon) {
    painter.save();
    painter.fillRect(cell, look.back);
    QRect rest = cell;
    if (!icon.isNull()) {
        constexpr int kIconMargin = 2;
        const int side = std::min(cell.height(), 32);
        const QRect iconArea(cell.left() + kIconMargin, cell.top() + (cell.height() - side) / 2,
                             side, side);
        painter.setClipRect(cell);
        icon.paint(&painter, iconArea);
        painter.setClipping(false);
        rest.setLeft(iconArea.right() + 1);
    }
    if (record.bold) {
        QFont font = painter.font();
        font.setBold(true);
        painter.setFont(font);
    }
    const Qt::Alignment horizontal = look.alignment & Qt::AlignHorizontal_Mask;
    DrawLine(painter, TextArea(rest), record.text, horizontal ? horizontal : Qt::AlignLeft,
             look.text, look.elide);
    painter.restore();
}
