#include "engine/os_description.h"

#include <charconv>
#include <climits>
#include <optional>
#include <string_view>
#include <sys/utsname.h>

namespace {

struct KernelVersion {
    unsigned major = 0;
    unsigned minor = 0;
};

// The leading "<major>.<minor>" of a kernel release such as "6.1.0-18-amd64".
std::optional<KernelVersion> ParseRelease(std::string_view release) {
    const char* const end = release.data() + release.size();
    KernelVersion version;
    auto [afterMajor, majorError] = std::from_chars(release.data(), end, version.major);
    if (majorError != std::errc() || afterMajor == end || *afterMajor != '.') {
        return std::nullopt;
    }
    auto [afterMinor, minorError] = std::from_chars(afterMajor + 1, end, version.minor);
    if (minorError != std::errc()) {
        return std::nullopt;
    }
    return version;
}

} // namespace

std::string MakeOsDescription(const std::string& sysname, const std::string& release,
                              const std::string& machine, unsigned pointerBits) {
    std::string description;
    if (const std::optional<KernelVersion> version = ParseRelease(release)) {
        description = sysname + " Ver" + std::to_string(version->major) + "." +
                      std::to_string(version->minor);
    }
    // Only a 32-bit process on a 64-bit kernel is marked "_64"; the service has always seen
    // this marking, so a 64-bit process keeps reporting "_32".
    const bool kernel64 = machine.find("64") != std::string::npos;
    description += pointerBits == 32 && kernel64 ? "_64" : "_32";
    return description;
}

std::string GetOsDescription() {
    utsname names{};
    if (::uname(&names) != 0) {
        return MakeOsDescription({}, {}, {}, sizeof(void*) * CHAR_BIT);
    }
    return MakeOsDescription(names.sysname, names.release, names.machine, sizeof(void*) * CHAR_BIT);
}

std::string GetFileVersionText(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
    return std::to_string(mostSignificant >> 16) + "." + std::to_string(mostSignificant & 0xFFFF) +
           "." + std::to_string(leastSignificant >> 16) + "." +
           std::to_string(leastSignificant & 0xFFFF);
}
