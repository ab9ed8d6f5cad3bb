// A listing page of a share link as the front end reads it into the selection dialog's
// records: the item's members and its children, whatever JSON arrives.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "intake/link_item.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = InputText(data, size);
    const QString reply = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    LinkItem target;
    target.path = QStringLiteral("/before");
    target.children.emplace_back().path = QStringLiteral("/before/child");
    if (!ParseListing(reply, target)) {
        // A reply that is not a JSON object changes nothing.
        FUZZ_CHECK(target.path == QStringLiteral("/before") && target.children.size() == 1 &&
                       target.children.front().path == QStringLiteral("/before/child"),
                   text);
        return 0;
    }
    for (const LinkItem& child : target.children) {
        FUZZ_CHECK(child.children.empty(), text);
        const QString name = child.Name();
        FUZZ_CHECK(!name.contains(u'/'), text);
        (void)child.WithoutChildren();
    }
    return 0;
}
