#include "log/log_rotation.h"

#include "log/log_time.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Deletes the oldest rotated copies of `fileName` in `folder` (which ends with '/').
void PruneRotatedFiles(const std::string& folder, const std::string& fileName) {
    std::set<std::string> rotated; // ordinal order: the fixed-width stamp makes it age order
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        if (name.size() > fileName.size() && name.compare(0, fileName.size(), fileName) == 0) {
            rotated.insert(name);
        }
    }
    while (rotated.size() > kKeptRotatedLogs) {
        std::error_code removeEc;
        fs::remove(folder + *rotated.begin(), removeEc);
        rotated.erase(rotated.begin());
    }
}

} // namespace

void CheckLogSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return; // no file yet (or not reachable): nothing to rotate
    }
    const std::uint64_t length = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    if (length <= kMaxLogFileBytes) {
        return;
    }
    const std::string rotatedName = path + "." + FormatRotationStamp(LogClock::now());
    std::rename(path.c_str(), rotatedName.c_str()); // a failed move is retried after the next batch

    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return;
    }
    PruneRotatedFiles(path.substr(0, slash + 1), path.substr(slash + 1));
}
