#include "app/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawIcon(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(51, 102, 153));
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    QPainterPath cloud;
    cloud.addEllipse(QRectF(12, 18, 22, 20));
    cloud.addEllipse(QRectF(24, 12, 26, 26));
    cloud.addRoundedRect(QRectF(10, 28, 44, 14), 7, 7);
    painter.setBrush(Qt::white);
    painter.drawPath(cloud.simplified());

    QPainterPath arrow;
    arrow.moveTo(28, 30);
    arrow.lineTo(36, 30);
    arrow.lineTo(36, 42);
    arrow.lineTo(43, 42);
    arrow.lineTo(32, 55);
    arrow.lineTo(21, 42);
    arrow.lineTo(28, 42);
    arrow.closeSubpath();
    painter.setBrush(QColor(54, 209, 34));
    painter.drawPath(arrow);
    return pixmap;
}

} // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(DrawIcon(side));
    }
    return icon;
}
