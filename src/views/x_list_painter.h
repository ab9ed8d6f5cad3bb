#pragma once

#include "views/x_list_cell.h"

#include <QColor>
#include <QIcon>
#include <QRect>

class QPainter;
class QFont;

// Colours of the list's cells, taken from the palette.
struct XListColors {
    QColor text;          // window text
    QColor back;          // window
    QColor highlight;     // selected, focused
    QColor highlightText; // text over a selection and over a bar's green part
    QColor buttonFace;    // selected, unfocused
    QColor shadow;
    QColor light;
    QColor grayText; // disabled rows
};

inline const QColor kProgressGreen{54, 209, 34};
inline const QColor kCheckFrame{51, 102, 153};
inline const QColor kCheckMark{51, 153, 51};
inline constexpr int kCheckBoxSize = 14;
inline constexpr int kHeaderCheckBoxSize = 13;
inline constexpr int kTextMargin = 5;

// Everything one cell needs to draw itself, with its colours already chosen.
struct XCellLook {
    QColor text;
    QColor back;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool disabled = false;
    bool elide = true;
};

// The three kinds of cell. Each fills its whole rectangle first.
void DrawProgressCell(QPainter& painter, const QRect& cell, const XListCell& record,
                      const XCellLook& look, const XListColors& colors);
void DrawCheckboxCell(QPainter& painter, const QRect& cell, const XListCell& record,
                      const XCellLook& look, const XListColors& colors);
void DrawTextCell(QPainter& painter, const QRect& cell, const XListCell& record,
                  const XCellLook& look, const QIcon& icon);

// A check box of `size` pixels with its top-left corner at `topLeft`, filled with `fill`,
// framed in blue and, when checked, marked in green (grey for a disabled row).
void DrawCheckBox(QPainter& painter, const QPoint& topLeft, int size, bool checked,
                  const QColor& fill, const QColor& markColor);

// The text a progress cell's bar carries.
QString ProgressBarText(const XListCell& record);
