#pragma once

#include <QString>

#include <cstdint>

// The texts the task views show for a record; pure functions so every front end shows the
// same words and figures.

// "%d KB" below 1 MiB (a non-empty file under 1 KiB shows 1 KB), "%.2f MB" below 1 GiB,
// "%.2f GB" from there.
QString SizeText(std::uint64_t bytes);
// The size text of a speed followed by "/S".
QString SpeedText(std::uint64_t bytesPerSecond);
// The add time (milliseconds since 1970) in local time, "%04d-%02d-%02d %02d:%02d:%02d";
// empty for 0 or a time that cannot be converted.
QString DateText(std::uint64_t addTimeMs);
// Text 21 then "%02d:%02d:%02d" of the remaining seconds, or texts 21 and 22 ("more than 1
// day") when the speed is 0 or the time is 24 hours or more.
QString RemainingText(std::uint64_t size, std::uint64_t completedBytes,
                      std::uint64_t bytesPerSecond);
// Completed bytes × 100 ÷ size; 0 for an empty size.
int ProgressPercent(std::uint64_t size, std::uint64_t completedBytes);
// The last segment of a target path (backslashes read as "/", one trailing "/" dropped);
// empty when the path holds no "/".
QString DisplayName(const QString& targetPath);
// A display name of 60 characters or more: its first 60, "...", and its extension.
QString ShortenedName(const QString& displayName);
