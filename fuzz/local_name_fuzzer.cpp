// The local name the front end picks for a picked item from the service path it was listed
// with: a name that is not plain is refused, any other becomes a free path directly inside
// the save folder, beside entries that already take the name.
#include "fuzz_check.h"
#include "fuzz_fields.h"
#include "temp_home.h"

#include "intake/link_item.h"
#include "tracking/local_names.h"

#include <QDir>
#include <QFile>

namespace {

QString g_saveFolder;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_saveFolder = QString::fromStdString(UseTemporaryHome()) + QStringLiteral("/save");
    // Names already taken, so the numbered forms are reached too.
    QDir().mkpath(g_saveFolder + QStringLiteral("/report"));
    QDir().mkpath(g_saveFolder + QStringLiteral("/report (1)"));
    QFile(g_saveFolder + QStringLiteral("/a.txt")).open(QIODevice::WriteOnly);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = InputText(data, size);
    LinkItem item;
    item.path = QString::fromUtf8(input.data(), static_cast<qsizetype>(input.size()));
    item.isFolder = size > 0 && (data[0] & 1) != 0;
    if (!IsPlainName(item.Name())) {
        return 0;
    }
    const QSet<QString> reserved = {g_saveFolder + QStringLiteral("/b.txt")};
    const QString local = FreeLocalPath(item.path, g_saveFolder, item.isFolder, reserved);
    FUZZ_CHECK(!local.isEmpty(), input);
    FUZZ_CHECK(local.startsWith(g_saveFolder + u'/'), input);
    const QString name = local.mid(g_saveFolder.size() + 1);
    FUZZ_CHECK(IsPlainName(name), input);
    FUZZ_CHECK(!reserved.contains(local), input);
    return 0;
}
