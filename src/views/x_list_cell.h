#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>

// What the progress list keeps for one cell. Column 0's record also carries the row's enabled
// flag and its user data.
struct XListCell {
    bool enabled = true; // column 0: the whole row
    bool bold = false;
    bool modified = false; // the user toggled its check box
    int image = -1;        // index in the list's icon list, -1 for none
    QString text;
    QString tooltip;
    QColor textColor; // invalid: the palette's text colour
    QColor backColor; // invalid: the palette's base colour
    bool progressShown = false;
    int percent = 0;      // 0 to 100
    QString progressText; // empty: "%d%%" of the percent
    QString leftText;
    QString rightText;
    bool showProgressText = true;
    int checkState = -1; // -1 no check box, 0 unchecked, 1 checked
    quintptr userData = 0;
};

// Values of a header check box.
namespace header_check {
inline constexpr int kNone = 0;
inline constexpr int kUnchecked = 1;
inline constexpr int kChecked = 2;
} // namespace header_check

// Tooltips show at most this many characters.
inline constexpr int kMaxTooltipLength = 79;
