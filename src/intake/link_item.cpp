#include "intake/link_item.h"

#include "engine/json_fields.h"
#include "engine/json_text.h"
#include "net/service_records.h"

#include <QByteArray>

#include <rapidjson/document.h>

namespace {

QString Text(const rapidjson::Value& object, const char* key) {
    return QString::fromStdString(json_fields::ReadText(object, key));
}

// The item's own members; its children are left alone.
void ReadMembers(const rapidjson::Value& object, LinkItem& item) {
    using namespace json_fields;
    item.accessMode = ReadInt32(object, "access_mode");
    item.bytes = ReadInt64(object, "bytes");
    item.deliveryCode = Text(object, "delivery_code");
    item.downloadUrl = Text(object, "download_url");
    item.convertedUrl = Text(object, "eodDownloadUrl");
    item.watermarkUrl = Text(object, "watermarkDownloadUrl");
    item.metadataUrl = Text(object, "metadata_url");
    item.isFolder = ReadBool(object, "is_dir");
    item.modified = Text(object, "modified");
    item.nodeId = Text(object, "neid");
    item.path = Text(object, "path");
    item.revision = Text(object, "rev");
    item.displaySize = Text(object, "size");
}

} // namespace

LinkItem LinkItem::WithoutChildren() const {
    LinkItem copy = *this;
    copy.children.clear();
    return copy;
}

QString LinkItem::Name() const {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

bool ParseListing(const QString& replyText, LinkItem& target) {
    const QByteArray utf8 = replyText.toUtf8();
    rapidjson::Document document;
    if (!ParseJsonObject(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                         document)) {
        return false;
    }
    ReadMembers(document, target);
    std::vector<LinkItem> children;
    if (const rapidjson::Value* array = ListingChildren(document)) {
        children.reserve(array->Size());
        for (const rapidjson::Value& element : array->GetArray()) {
            // Anything but an object would only make a nameless row.
            if (element.IsObject()) {
                ReadMembers(element, children.emplace_back());
            }
        }
    }
    target.children = std::move(children);
    return true;
}
