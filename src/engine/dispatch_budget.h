#pragma once

// Concurrency limits scale with the speed factor, truncated toward zero.
inline int ScaledLimit(double speedFactor, int base) {
    return static_cast<int>(speedFactor * base);
}

// Part-download workers in total, and download tasks in Working.
inline int DownloadWorkerLimit(double speedFactor) {
    return ScaledLimit(speedFactor, 10);
}
