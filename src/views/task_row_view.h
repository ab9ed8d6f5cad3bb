#pragma once

#include "tracking/task_view_info.h"

#include <QString>

#include <array>

// What a task list panel shows, decided apart from the widgets.
namespace task_row {

// Which records a panel shows.
inline constexpr int kModeAll = 0;        // the main window
inline constexpr int kModeInProgress = 1; // neither failed nor completed
inline constexpr int kModeCompleted = 2;
inline constexpr int kModeFailed = 3;

// The detail panels list a folder task's files; its folders are no downloads of their own.
bool ModeShows(int mode, const CTaskViewInfo& record);

// The state column of a row.
struct StateCell {
    enum class Kind {
        kText,      // a plain text; any progress display goes
        kProgress,  // a progress cell with its percent and the speed and remaining texts
        kUnchanged, // preparing or absent: the cell keeps what it shows
    };
    Kind kind = Kind::kUnchanged;
    QString text;
    int percent = 0;
    QString leftText;  // speed
    QString rightText; // remaining time
};
// In the current language.
StateCell StateCellFor(int mode, const CTaskViewInfo& record);

// A state word of either language (texts 17 to 22) in the current language; any other text
// unchanged.
QString RetranslatedStateText(const QString& text);

// Column widths of a panel whose list is `width` pixels wide inside its frame: weights 30, 10
// and 20 of 80, the rest (less 2) to the last column.
std::array<int, 4> ColumnWidths(int width);

} // namespace task_row
