#include "item_json.h"

#include "file_content.h"
#include "url_text.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>

namespace parvex_service {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Text(Writer& writer, const char* name, const std::string& value) {
    writer.Key(name);
    writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string RevisionOf(const Item& item) {
    return item.rev.empty() ? "1" : item.rev;
}

std::string ModifiedOf(const Item& item, const std::string& fallback) {
    return item.modified.empty() ? fallback : item.modified;
}

std::string JoinPath(const std::string& parent, const std::string& name) {
    return parent == "/" || parent.empty() ? "/" + name : parent + "/" + name;
}

void DeliveryMembers(Writer& writer, const std::string& baseUrl, const Link& link, const Item& item,
                     const std::string& below, const std::string& defaultModified) {
    const std::string path = LinkItemPath(link, below);
    const std::uint64_t bytes = item.isDir ? 0 : item.size;
    writer.Key("access_mode");
    writer.Int(link.accessMode);
    writer.Key("bytes");
    writer.Uint64(bytes);
    Text(writer, "delivery_code", link.code);
    Text(writer, "download_url", DownloadUrl(baseUrl, link.code, below));
    Text(writer, "eodDownloadUrl",
         item.converted ? ConvertedPollUrl(baseUrl, link.code, below) : std::string());
    Text(writer, "watermarkDownloadUrl",
         item.watermark ? WatermarkUrl(baseUrl, link.code, below) : std::string());
    Text(writer, "metadata_url", MetadataUrl(baseUrl, link.code, below));
    writer.Key("is_dir");
    writer.Bool(item.isDir);
    Text(writer, "modified", ModifiedOf(item, defaultModified));
    Text(writer, "neid", NodeId(link.code, path));
    Text(writer, "path", path);
    Text(writer, "rev", RevisionOf(item));
    Text(writer, "size", HumanSize(bytes));
}

void StorageMembers(Writer& writer, const Storage& storage, const Item& item,
                    const std::string& path, const StorageQuery& query, std::uint64_t bytes,
                    const std::string& rev, const std::string& defaultModified) {
    writer.Key("access_mode");
    writer.Int(0);
    writer.Key("bytes");
    writer.Uint64(bytes);
    Text(writer, "hash",
         item.isDir ? std::string()
                    : Hex(ContentSeed(
                          "", rev == RevisionOf(item) ? path : RevisionContentPath(path, rev))));
    writer.Key("is_dir");
    writer.Bool(item.isDir);
    Text(writer, "creator_uid", storage.uid);
    Text(writer, "path", path);
    Text(writer, "rev", rev);
    Text(writer, "lock_uid", "");
    Text(writer, "path_type", query.pathType);
    Text(writer, "neid", NodeId("", path));
    Text(writer, "nsid", "1");
    Text(writer, "from", query.from);
    Text(writer, "prefix_neid", query.prefixNeid);
    Text(writer, "modified", ModifiedOf(item, defaultModified));
    Text(writer, "size", HumanSize(bytes));
}

} // namespace

std::string HumanSize(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string NodeId(std::string_view code, std::string_view path) {
    return Hex(ContentSeed(code, std::string("neid:") + std::string(path)));
}

std::string DownloadUrl(const std::string& baseUrl, const std::string& code,
                        const std::string& below) {
    return baseUrl + "/v2/delivery/download/" + code + below;
}

std::string MetadataUrl(const std::string& baseUrl, const std::string& code,
                        const std::string& below) {
    return baseUrl + "/v2/delivery/metadata/" + code + PercentEncode(below);
}

std::string ConvertedPollUrl(const std::string& baseUrl, const std::string& code,
                             const std::string& below) {
    return baseUrl + "/v2/delivery/eod/" + code + below;
}

std::string ConvertedFileUrl(const std::string& baseUrl, const std::string& code,
                             const std::string& below) {
    return baseUrl + "/eodfile/" + code + "/?source_path=" + (below.empty() ? "/" : below);
}

std::string WatermarkUrl(const std::string& baseUrl, const std::string& code,
                         const std::string& below) {
    return baseUrl + "/GetWatermarkFile?url=" + PercentEncode(below) + "&code=" + code;
}

std::string LinkItemPath(const Link& link, const std::string& below) {
    return "/" + link.item.name + below;
}

std::string DeliveryListing(const std::string& baseUrl, const Link& link, const Item& item,
                            const std::string& below, std::uint64_t offset, int pageSize,
                            const std::string& defaultModified) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    DeliveryMembers(writer, baseUrl, link, item, below, defaultModified);
    if (item.isDir) {
        writer.Key("content");
        writer.StartArray();
        const std::uint64_t count = ChildCount(item);
        const std::uint64_t end =
            std::min<std::uint64_t>(count, offset + static_cast<std::uint64_t>(pageSize));
        Item scratch;
        for (std::uint64_t i = offset; i < end; ++i) {
            const Item& child = ChildAt(item, i, scratch);
            writer.StartObject();
            DeliveryMembers(writer, baseUrl, link, child, below + "/" + child.name,
                            ModifiedOf(item, defaultModified));
            writer.EndObject();
        }
        writer.EndArray();
    }
    writer.EndObject();
    return buffer.GetString();
}

std::string StorageListing(const Storage& storage, const Item& item, const std::string& path,
                           const StorageQuery& query, bool list, std::uint64_t offset,
                           std::uint64_t limit, const std::string& defaultModified) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    StorageMembers(writer, storage, item, path, query, item.isDir ? 0 : item.size, RevisionOf(item),
                   defaultModified);
    if (list && item.isDir) {
        writer.Key("content");
        writer.StartArray();
        const std::uint64_t count = ChildCount(item);
        const std::uint64_t end = offset + limit < offset ? count : std::min(count, offset + limit);
        Item scratch;
        for (std::uint64_t i = offset; i < end; ++i) {
            const Item& child = ChildAt(item, i, scratch);
            writer.StartObject();
            StorageMembers(writer, storage, child, JoinPath(path, child.name), query,
                           child.isDir ? 0 : child.size, RevisionOf(child),
                           ModifiedOf(item, defaultModified));
            writer.EndObject();
        }
        writer.EndArray();
    }
    writer.EndObject();
    return buffer.GetString();
}

std::string StorageRevisions(const Storage& storage, const Item& item, const std::string& path,
                             const StorageQuery& query, std::uint64_t limit,
                             const std::string& defaultModified) {
    std::vector<Revision> revisions = item.revisions;
    if (revisions.empty()) {
        revisions.push_back(Revision{RevisionOf(item), item.size, "1", storage.uid, "create"});
    }
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartArray();
    for (std::size_t i = 0; i < revisions.size() && i < limit; ++i) {
        const Revision& revision = revisions[i];
        writer.StartObject();
        StorageMembers(writer, storage, item, path, query, item.isDir ? 0 : revision.size,
                       revision.rev, defaultModified);
        Text(writer, "version",
             revision.version.empty() ? std::to_string(revisions.size() - i) : revision.version);
        Text(writer, "user", revision.user.empty() ? storage.uid : revision.user);
        Text(writer, "op", revision.op);
        writer.EndObject();
    }
    writer.EndArray();
    return buffer.GetString();
}

} // namespace parvex_service
