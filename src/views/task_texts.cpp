#include "views/task_texts.h"

#include "app/lang_text.h"

#include <QList>

#include <ctime>

namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kGiB = 1073741824;
constexpr int kShortNameLength = 60;
constexpr int kRemainText = 21;
constexpr int kMoreThanADayText = 22;

} // namespace

QString SizeText(std::uint64_t bytes) {
    if (bytes == 0) {
        return QStringLiteral("0 KB");
    }
    if (bytes < kKiB) {
        return QStringLiteral("1 KB");
    }
    if (bytes < kMiB) {
        return QString::number(bytes / kKiB) + QStringLiteral(" KB");
    }
    if (bytes < kGiB) {
        return QString::asprintf("%.2f MB", double(bytes) / double(kMiB));
    }
    return QString::asprintf("%.2f GB", double(bytes) / double(kGiB));
}

QString SpeedText(std::uint64_t bytesPerSecond) {
    return SizeText(bytesPerSecond) + QStringLiteral("/S");
}

QString DateText(std::uint64_t addTimeMs) {
    if (addTimeMs == 0) {
        return {};
    }
    const std::time_t seconds = static_cast<std::time_t>(addTimeMs / 1000);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return {};
    }
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                             local.tm_sec);
}

QString RemainingText(std::uint64_t size, std::uint64_t completedBytes,
                      std::uint64_t bytesPerSecond) {
    const QString remain = GetLangText(kRemainText);
    if (bytesPerSecond != 0) {
        // A record read mid-update may say more bytes than the size: nothing remains then.
        const std::uint64_t left = size > completedBytes ? size - completedBytes : 0;
        const std::uint64_t seconds = left / bytesPerSecond;
        const std::uint64_t minutes = seconds / 60;
        const std::uint64_t hours = minutes / 60;
        if (hours < 24) {
            return remain + QString::asprintf("%02d:%02d:%02d", int(hours), int(minutes % 60),
                                              int(seconds % 60));
        }
    }
    return remain + GetLangText(kMoreThanADayText);
}

int ProgressPercent(std::uint64_t size, std::uint64_t completedBytes) {
    if (size == 0) {
        return 0;
    }
    // Wide enough for any size; a record read mid-update never shows more than 100.
    const unsigned __int128 percent = static_cast<unsigned __int128>(completedBytes) * 100 / size;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

QString DisplayName(const QString& targetPath) {
    QString path = targetPath;
    path.replace(u'\\', u'/');
    if (path.endsWith(u'/')) {
        path.chop(1);
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.mid(slash + 1);
}

QString ShortenedName(const QString& displayName) {
    // Counted in characters: a name of emoji or rare ideographs is never cut inside one.
    const QList<uint> characters = displayName.toUcs4();
    if (characters.size() < kShortNameLength) {
        return displayName;
    }
    const qsizetype dot = displayName.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : displayName.mid(dot);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                             kShortNameLength) +
           QStringLiteral("...") + extension;
}
