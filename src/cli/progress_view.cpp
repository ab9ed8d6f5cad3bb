#include "cli/progress_view.h"

#include "app/lang_text.h"
#include "cli/terminal.h"
#include "views/task_texts.h"

#include <algorithm>

namespace {

constexpr int kWaitText = 17;
constexpr int kPauseText = 18;
constexpr int kCompleteText = 19;
constexpr int kErrorText = 20;
// Plain output repeats a running task's line at most this often.
constexpr auto kPlainRepeat = std::chrono::seconds(3);

} // namespace

bool IsEndState(int viewState) {
    return viewState == view_state::kCompleted || viewState == view_state::kError ||
           viewState == view_state::kPaused;
}

QString TaskLine(const CTaskViewInfo& record) {
    QString name = DisplayName(record.targetPath);
    if (name.isEmpty()) {
        name = record.taskId;
    }
    const QString bytes = record.size == 0
                              ? SizeText(record.completedBytes)
                              : SizeText(record.completedBytes) + u'/' + SizeText(record.size);
    switch (record.viewState) {
    case view_state::kWorking:
        // Joined, not formatted: a name may hold "%1".
        return name + QStringLiteral("  ") +
               QString::number(ProgressPercent(record.size, record.completedBytes)) +
               QStringLiteral("%  ") + bytes + QStringLiteral("  ") + SpeedText(record.speed) +
               QStringLiteral("  ") +
               RemainingText(record.size, record.completedBytes, record.speed);
    case view_state::kPreparing:
        return name + QStringLiteral("  ") + GetLangText(lang_text::kCliPreparing);
    case view_state::kPaused:
        return name + QStringLiteral("  ") + bytes + QStringLiteral("  ") + GetLangText(kPauseText);
    case view_state::kCompleted:
        return name + QStringLiteral("  100%  ") + SizeText(record.size) + QStringLiteral("  ") +
               GetLangText(kCompleteText);
    case view_state::kError:
        return name + QStringLiteral("  ") + GetLangText(kErrorText) + QStringLiteral("：") +
               record.errorText;
    default:
        return name + QStringLiteral("  ") + GetLangText(kWaitText);
    }
}

CProgressView::CProgressView(std::FILE* out, bool terminal) : m_out(out), m_terminal(terminal) {}

void CProgressView::Follow(const QString& taskId) {
    if (std::find(m_order.begin(), m_order.end(), taskId) == m_order.end()) {
        m_order.push_back(taskId);
    }
}

void CProgressView::Update(const QString& taskId, const CTaskViewInfo& record) {
    if (std::find(m_order.begin(), m_order.end(), taskId) == m_order.end()) {
        return; // another task of the engine
    }
    m_records[taskId] = record;
}

bool CProgressView::AllEnded() const {
    return std::all_of(m_order.begin(), m_order.end(), [this](const QString& id) {
        const auto found = m_records.find(id);
        return found != m_records.end() && IsEndState(found->second.viewState);
    });
}

QString CProgressView::LineFor(const QString& taskId) const {
    const auto found = m_records.find(taskId);
    return found != m_records.end() ? TaskLine(found->second)
                                    : taskId + QStringLiteral("  ") + GetLangText(kWaitText);
}

void CProgressView::Render() {
    if (m_terminal) {
        // Lines are cut to the width so none wraps and the block can be redrawn in place.
        const int columns = std::max(10, TerminalColumns() - 1);
        QString block;
        if (m_linesDrawn > 0) {
            block += QStringLiteral("\x1b[%1A").arg(m_linesDrawn);
        }
        for (const QString& id : m_order) {
            block += QStringLiteral("\r\x1b[K") + FitToColumns(LineFor(id), columns) + u'\n';
        }
        std::fputs(block.toUtf8().constData(), m_out);
        std::fflush(m_out);
        m_linesDrawn = static_cast<int>(m_order.size());
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    for (const QString& id : m_order) {
        const auto found = m_records.find(id);
        if (found == m_records.end()) {
            continue;
        }
        const CTaskViewInfo& record = found->second;
        const int percent = ProgressPercent(record.size, record.completedBytes);
        Shown& shown = m_shown[id];
        const bool stateChanged = shown.viewState != record.viewState;
        const bool progressed = record.viewState == view_state::kWorking &&
                                percent != shown.percent && now - shown.at >= kPlainRepeat;
        if (stateChanged || progressed) {
            std::fprintf(m_out, "%s\n", TaskLine(record).toUtf8().constData());
            shown = {record.viewState, percent, now};
        }
    }
    std::fflush(m_out);
}
