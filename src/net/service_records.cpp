#include "net/service_records.h"

#include "engine/json_fields.h"
#include "engine/part_layout.h"

using namespace json_fields;

namespace {

// A refused size is kept as one beyond the largest, so the file fails when it is fetched.
std::int64_t ReadListedSize(const rapidjson::Value& object) {
    std::uint64_t size = 0;
    if (!ReadBoundedSize(object, "bytes", kMaxItemSize, size)) {
        size = kRefusedItemSize;
    }
    return static_cast<std::int64_t>(size);
}

} // namespace

void BoxMetadata::Read(const rapidjson::Value& object) {
    accessMode = ReadInt32(object, "access_mode");
    size = ReadListedSize(object);
    hash = ReadText(object, "hash");
    isFolder = ReadBool(object, "is_dir");
    creator = ReadText(object, "creator_uid");
    path = ReadText(object, "path");
    rev = ReadText(object, "rev");
    lockOwner = ReadText(object, "lock_uid");
    pathType = ReadText(object, "path_type");
    neid = ReadText(object, "neid");
    nsid = ReadText(object, "nsid");
    from = ReadText(object, "from");
    prefixNeid = ReadText(object, "prefix_neid");
}

void DeliveryMetadata::Read(const rapidjson::Value& object) {
    accessMode = ReadInt32(object, "access_mode");
    size = ReadListedSize(object);
    deliveryCode = ReadText(object, "delivery_code");
    downloadUrl = ReadText(object, "download_url");
    convertedUrl = ReadText(object, "eodDownloadUrl");
    watermarkUrl = ReadText(object, "watermarkDownloadUrl");
    metadataUrl = ReadText(object, "metadata_url");
    isFolder = ReadBool(object, "is_dir");
    modified = ReadText(object, "modified");
    neid = ReadText(object, "neid");
    path = ReadText(object, "path");
    rev = ReadText(object, "rev");
}

void RevisionItem::Read(const rapidjson::Value& object) {
    BoxMetadata::Read(object);
    version = ReadText(object, "version");
    user = ReadText(object, "user");
    op = ReadText(object, "op");
}

const rapidjson::Value* ListingChildren(const rapidjson::Value& root) {
    if (!root.IsObject()) {
        return nullptr;
    }
    auto it = root.FindMember("content");
    if (it == root.MemberEnd()) {
        it = root.FindMember("search_result");
    }
    if (it == root.MemberEnd() || !it->value.IsArray()) {
        return nullptr;
    }
    return &it->value;
}
