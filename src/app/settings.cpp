#include "app/settings.h"

#include "app/data_folders.h"
#include "log/file_io.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kRootElement[] = "Parvex";

// Settings are used from the window thread, but the command-line front end and tests may touch
// them from others: one lock keeps a read from seeing a half-replaced file.
std::mutex& SettingsLock() {
    static std::mutex lock;
    return lock;
}

// A settings file is a few hundred bytes; anything this large is not ours to parse.
constexpr off_t kMaxSettingsBytes = 16 << 20;

// Reads the file ourselves so that only a regular file of sane size reaches the parser (the
// parser's own file reading would try to allocate the "length" of a folder).
bool LoadSettings(pugi::xml_document& doc, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    std::string content;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSettingsBytes;
    if (ok) {
        content.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < content.size()) {
            const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        content.resize(got);
    }
    ::close(fd);
    return ok && doc.load_buffer(content.data(), content.size(), pugi::parse_default,
                                 pugi::encoding_auto);
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::string temp = path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, content.data(), content.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) {
        return true;
    }
    std::remove(temp.c_str());
    return false;
}

} // namespace

std::string ReadSetting(const std::string& key, const std::string& defaultValue) {
    std::lock_guard lock(SettingsLock());
    pugi::xml_document doc;
    if (!LoadSettings(doc, GetSettingsFilePath())) {
        return defaultValue;
    }
    const pugi::xml_node node = doc.child(kRootElement).child(key.c_str());
    if (!node) {
        return defaultValue;
    }
    return node.child_value();
}

bool WriteSetting(const std::string& key, const std::string& value) {
    if (key.empty()) {
        return false; // not an element name
    }
    std::lock_guard lock(SettingsLock());
    const std::string path = GetSettingsFilePath();
    pugi::xml_document doc;
    // A missing file gives an empty document, a malformed one what could be read of it.
    LoadSettings(doc, path);

    pugi::xml_node root = doc.child(kRootElement);
    if (!root) {
        root = doc.append_child(kRootElement);
    }
    pugi::xml_node node = root.child(key.c_str());
    if (!node) {
        node = root.append_child(key.c_str());
    }
    // Only the first text piece would be replaced: a later one (after a comment, say) would be
    // saved after the value and read back as part of it.
    node.remove_children();
    if (!node.text().set(value.c_str())) {
        return false;
    }
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    return WriteFileAtomically(path, out.str());
}
