#pragma once

#include "scenario.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace parvex_service {

// "512 B", "1.5 KB", "2.0 MB", "3.1 GB": the service's own display size.
std::string HumanSize(std::uint64_t bytes);

// A stable node id for the item at `path` of the link `code` (the empty code for storage).
std::string NodeId(std::string_view code, std::string_view path);

// The URLs of a link item; `below` is its path below the link root ("" or "/a/b").
std::string DownloadUrl(const std::string& baseUrl, const std::string& code,
                        const std::string& below);
std::string MetadataUrl(const std::string& baseUrl, const std::string& code,
                        const std::string& below);
std::string ConvertedPollUrl(const std::string& baseUrl, const std::string& code,
                             const std::string& below);
std::string ConvertedFileUrl(const std::string& baseUrl, const std::string& code,
                             const std::string& below);
std::string WatermarkUrl(const std::string& baseUrl, const std::string& code,
                         const std::string& below);

// The "path" member of a link item: "/" + the shared item's name + `below`. File content of a
// link is keyed by this path (FileContent(code, path, ...)).
std::string LinkItemPath(const Link& link, const std::string& below);

// The metadata reply for `item` of `link`: its members and, for a folder, "content" with at
// most `pageSize` children from `offset`.
std::string DeliveryListing(const std::string& baseUrl, const Link& link, const Item& item,
                            const std::string& below, std::uint64_t offset, int pageSize,
                            const std::string& defaultModified);

// What a storage request names besides the path.
struct StorageQuery {
    std::string pathType = "ent";
    std::string from;
    std::string neid;
    std::string prefixNeid;
};

// The metadata reply for the storage item at `path`; "content" (children from `offset`, at
// most `limit`) when `list` is set and the item is a folder.
std::string StorageListing(const Storage& storage, const Item& item, const std::string& path,
                           const StorageQuery& query, bool list, std::uint64_t offset,
                           std::uint64_t limit, const std::string& defaultModified);

// The revisions reply: a JSON array, newest first, at most `limit` entries. A file without
// listed revisions has one, its current state.
std::string StorageRevisions(const Storage& storage, const Item& item, const std::string& path,
                             const StorageQuery& query, std::uint64_t limit,
                             const std::string& defaultModified);

} // namespace parvex_service
