#include "demo_records.h"

#include "app/language.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cstdint>

namespace demo_records {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Fixed local times, so the pictures do not change from one run to the next.
std::uint64_t AddTime(int day, int hour, int minute, int second) {
    const QDateTime time(QDate(2024, 5, day), QTime(hour, minute, second));
    return static_cast<std::uint64_t>(time.toMSecsSinceEpoch());
}

QString EngineError(int code) {
    return QString::fromStdString(GetErrorText(code, GetLanguageCode()));
}

CTaskViewInfo Record(const QString& id, const QString& name, bool isFolder, std::uint64_t size,
                     int viewState, std::uint64_t addTime) {
    CTaskViewInfo record;
    record.taskId = id;
    record.isFolder = isFolder;
    record.targetPath = QString::fromLatin1(kSaveFolder) + u'/' + name;
    record.sourcePath = u'/' + name;
    record.info.sourcePath = record.sourcePath;
    record.info.targetPath = record.targetPath;
    record.size = size;
    record.viewState = viewState;
    record.addTime = addTime;
    return record;
}

// Working at `percent` of its size (rounded up, so the bar shows that very percent).
CTaskViewInfo Working(CTaskViewInfo record, int percent, std::uint64_t speed) {
    record.completedBytes = (record.size * static_cast<std::uint64_t>(percent) + 99) / 100;
    record.speed = speed;
    return record;
}

CTaskViewInfo Failed(CTaskViewInfo record, int code) {
    record.errorCode = code;
    record.errorText = EngineError(code);
    return record;
}

CTaskViewInfo Completed(CTaskViewInfo record) {
    record.completedBytes = record.size;
    return record;
}

} // namespace

std::vector<Keyed> Tasks() {
    using namespace view_state;
    const std::vector<CTaskViewInfo> records = {
        Working(Record("task-atlas", "Project-Atlas-Design", true, 734 * kMiB, kWorking,
                       AddTime(14, 9, 12, 3)),
                40, 3 * kMiB + 420 * 1024),
        Record("task-reports", "Quarterly-Reports", true, 42 * kMiB, kNone, AddTime(14, 9, 15, 41)),
        Record("task-training", "onboarding-training-2024.mp4", false, 1229 * kMiB, kPaused,
               AddTime(13, 17, 48, 10)),
        Failed(Record("task-contracts", "supplier-contracts.zip", false, 86 * kMiB, kError,
                      AddTime(13, 16, 2, 55)),
               platform_error::kAccessDenied),
        Completed(Record("task-annual", "annual-report-2023.pdf", false, 5 * kMiB + 300 * 1024,
                         kCompleted, AddTime(12, 11, 30, 18))),
        Completed(Record("task-photos", "team-offsite-photos", true, 318 * kMiB, kCompleted,
                         AddTime(10, 8, 5, 47))),
    };
    std::vector<Keyed> rows;
    for (const CTaskViewInfo& record : records) {
        rows.push_back({record.taskId, record});
    }
    return rows;
}

CTaskViewInfo DetailTask() {
    return Tasks().front().record;
}

std::vector<Keyed> SubTasks() {
    using namespace view_state;
    const CTaskViewInfo task = DetailTask();
    const auto sub = [&task](const char* path, std::uint64_t size, int viewState) {
        CTaskViewInfo record = Record(task.taskId, QString(), false, size, viewState, task.addTime);
        record.targetPath = task.targetPath + u'/' + QString::fromLatin1(path);
        record.sourcePath = task.sourcePath + u'/' + QString::fromLatin1(path);
        record.info.sourcePath = record.sourcePath;
        record.info.targetPath = record.targetPath;
        return record;
    };
    const std::vector<CTaskViewInfo> records = {
        Failed(sub("renders/atrium-night.png", 24 * kMiB, kError), platform_error::kAccessDenied),
        Failed(sub("models/structure-v3.ifc", 212 * kMiB, kError), platform_error::kNameTooLong),
        Completed(sub("drawings/floor-plan-L1.dwg", 3 * kMiB + 800 * 1024, kCompleted)),
        Completed(sub("drawings/floor-plan-L2.dwg", 3 * kMiB + 512 * 1024, kCompleted)),
        Completed(sub("drawings/elevations.pdf", 12 * kMiB, kCompleted)),
        Completed(sub("documents/materials.xlsx", 640 * 1024, kCompleted)),
        Completed(sub("README.txt", 6 * 1024, kCompleted)),
        Working(sub("renders/lobby-4k.png", 48 * kMiB, kWorking), 62, 1 * kMiB + 600 * 1024),
        Working(sub("video/walkthrough.mp4", 356 * kMiB, kWorking), 18, 2 * kMiB + 100 * 1024),
        sub("models/site-context.ifc", 64 * kMiB, kNone),
        sub("photos/site-visit.zip", 18 * kMiB, kPaused),
    };
    std::vector<Keyed> rows;
    for (const CTaskViewInfo& record : records) {
        rows.push_back({record.targetPath, record});
    }
    return rows;
}

} // namespace demo_records
