#include "app/data_folders.h"

#include "engine/private_paths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string EnvValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string HomeFolder() {
    std::string home = EnvValue("HOME");
    if (!home.empty()) {
        return home;
    }
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "."; // nothing better known: work below the current folder
}

std::string g_appDataOverride;

// The folders hold tokens and logs: private to the user.
std::string EnsureFolder(const fs::path& folder) {
    EnsurePrivateFolder(folder.string());
    return folder.string();
}

} // namespace

std::string GetDataRoot() {
    std::string root = EnvValue("PARVEX_HOME");
    if (root.empty()) {
        root = EnvValue("XDG_DATA_HOME");
        if (root.empty() || root.front() != '/') { // relative values are to be ignored
            root = (fs::path(HomeFolder()) / ".local" / "share").string();
        }
    }
    return root;
}

std::string GetVendorDataFolder() {
    return EnsureFolder(fs::path(GetDataRoot()) / "Varnok" / "VarnokData3");
}

std::string GetAppDataFolder() {
    if (!g_appDataOverride.empty()) {
        return EnsureFolder(g_appDataOverride);
    }
    return EnsureFolder(fs::path(GetVendorDataFolder()) / "Parvex");
}

std::string GetLogFolder() {
    return EnsureFolder(fs::path(GetAppDataFolder()) / "Log");
}

std::string GetSettingsFilePath() {
    return (fs::path(GetAppDataFolder()) / "Parvex.xml").string();
}

std::string GetLogFilePath() {
    return (fs::path(GetLogFolder()) / "parvex.log").string();
}

void SetAppDataFolderOverride(const std::string& folder) {
    std::error_code ec;
    g_appDataOverride = folder.empty() ? std::string() : fs::absolute(folder, ec).string();
    if (ec) {
        g_appDataOverride = folder;
    }
}
