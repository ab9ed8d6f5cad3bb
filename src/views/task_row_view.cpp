#include "views/task_row_view.h"

#include "app/lang_text.h"
#include "app/language.h"
#include "views/task_texts.h"

namespace task_row {
namespace {

constexpr int kWaitText = 17;
constexpr int kPauseText = 18;
constexpr int kCompleteText = 19;
constexpr int kErrorText = 20;
constexpr int kFirstStateText = 17;
constexpr int kLastStateText = 22;

QString ErrorCellText(const CTaskViewInfo& record) {
    return GetLangText(kErrorText) + QStringLiteral("：") + record.errorText;
}

StateCell Text(QString text) {
    StateCell cell;
    cell.kind = StateCell::Kind::kText;
    cell.text = std::move(text);
    return cell;
}

} // namespace

bool ModeShows(int mode, const CTaskViewInfo& record) {
    if (mode != kModeAll && record.isFolder) {
        return false;
    }
    const int viewState = record.viewState;
    switch (mode) {
    case kModeInProgress:
        return viewState != view_state::kError && viewState != view_state::kCompleted;
    case kModeCompleted:
        return viewState == view_state::kCompleted;
    case kModeFailed:
        return viewState == view_state::kError;
    default:
        return true;
    }
}

StateCell StateCellFor(int mode, const CTaskViewInfo& record) {
    if (mode == kModeCompleted) {
        return Text(GetLangText(kCompleteText));
    }
    if (mode == kModeFailed) {
        return Text(ErrorCellText(record));
    }
    switch (record.viewState) {
    case view_state::kNone:
        return Text(GetLangText(kWaitText));
    case view_state::kWorking: {
        StateCell cell;
        cell.kind = StateCell::Kind::kProgress;
        cell.percent = ProgressPercent(record.size, record.completedBytes);
        cell.leftText = SpeedText(record.speed);
        cell.rightText = RemainingText(record.size, record.completedBytes, record.speed);
        return cell;
    }
    case 2: // no record decodes to it today; it reads as a pause
    case view_state::kPaused:
        return Text(GetLangText(kPauseText));
    case view_state::kError:
        return Text(ErrorCellText(record));
    case view_state::kCompleted:
        return Text(GetLangText(kCompleteText));
    default:
        return {};
    }
}

QString RetranslatedStateText(const QString& text) {
    for (int number = kFirstStateText; number <= kLastStateText; ++number) {
        if (text == GetLangText(number, kLanguageEnglish) ||
            text == GetLangText(number, kLanguageChinese)) {
            return GetLangText(number);
        }
    }
    return text;
}

std::array<int, 4> ColumnWidths(int width) {
    const int first = width * 30 / 80;
    const int second = width * 10 / 80;
    const int third = width * 20 / 80;
    return {first, second, third, width - first - second - third - 2};
}

} // namespace task_row
