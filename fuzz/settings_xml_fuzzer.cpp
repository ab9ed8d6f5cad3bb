// The settings file Parvex.xml, which anything with the user's rights may have written: every
// key is read, then one is written back.
#include "fuzz_check.h"
#include "fuzz_fields.h"
#include "temp_home.h"

#include "app/data_folders.h"
#include "app/settings.h"
#include "log/file_io.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kKeys[] = {kSettingLanguage, kSettingDeliveryUrl, kSettingSavePath};
constexpr char kAbsent[] = "\x01"
                           "absent";
// Markup characters, so the write must escape them.
constexpr char kWritten[] = "/tmp/a <b> & \"c\" 'd'";

std::string g_settingsPath;

void ReplaceSettingsFile(std::string_view content) {
    const int fd = ::open(g_settingsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || !WriteAll(fd, content.data(), content.size())) {
        std::abort();
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    UseTemporaryHome();
    g_settingsPath = GetSettingsFilePath();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content = InputText(data, size);
    ReplaceSettingsFile(content);
    std::string before[std::size(kKeys)];
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        before[i] = ReadSetting(kKeys[i], kAbsent);
    }
    // Writing one key keeps every other element that was read.
    FUZZ_CHECK(WriteSetting(kSettingSavePath, kWritten), content);
    FUZZ_CHECK(ReadSetting(kSettingSavePath, kAbsent) == kWritten, content);
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (kKeys[i] != kSettingSavePath && before[i] != kAbsent) {
            FUZZ_CHECK(ReadSetting(kKeys[i], kAbsent) == before[i], content);
        }
    }
    return 0;
}
