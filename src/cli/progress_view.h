#pragma once

#include "tracking/task_view_info.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

// One task as parvex-cli shows it: name, then percent, bytes, speed and remaining time while
// it runs, or its state word.
QString TaskLine(const CTaskViewInfo& record);
// A view state is where a followed task ends: completed, failed or paused.
bool IsEndState(int viewState);

// The live display of the followed tasks. On a terminal it keeps one line per task and
// redraws the block in place; otherwise it prints a plain line when a task's state changes
// and, while it runs, at most every few seconds.
class CProgressView {
public:
    CProgressView(std::FILE* out, bool terminal);

    // Tasks in the order they are shown; a task without a record yet shows its id.
    void Follow(const QString& taskId);
    // Keeps the record of a followed task; others are ignored.
    void Update(const QString& taskId, const CTaskViewInfo& record);
    const std::map<QString, CTaskViewInfo>& Records() const { return m_records; }
    // Whether every followed task has a record in an end state.
    bool AllEnded() const;
    void Render();

private:
    struct Shown {
        int viewState = -1;
        int percent = -1;
        std::chrono::steady_clock::time_point at;
    };

    QString LineFor(const QString& taskId) const;

    std::FILE* m_out;
    bool m_terminal;
    std::vector<QString> m_order;
    std::map<QString, CTaskViewInfo> m_records;
    std::map<QString, Shown> m_shown;
    int m_linesDrawn = 0;
};
