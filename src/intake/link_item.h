#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// One file or folder of a share link, as the service lists it.
struct LinkItem {
    std::int32_t accessMode = 0; // "access_mode"
    std::int64_t bytes = 0;      // "bytes"
    QString deliveryCode;        // "delivery_code"
    QString downloadUrl;         // "download_url"
    QString convertedUrl;        // "eodDownloadUrl": a converted document
    QString watermarkUrl;        // "watermarkDownloadUrl"
    QString metadataUrl;         // "metadata_url"
    bool isFolder = false;       // "is_dir"
    QString modified;            // "modified"
    QString nodeId;              // "neid"
    QString path;                // "path": full path inside the link, "/" separators
    QString revision;            // "rev"
    QString displaySize;         // "size": the service's own human-readable size
    std::vector<LinkItem> children;

    // A copy of the item's own members, without its children.
    LinkItem WithoutChildren() const;
    // The last segment of the path: the item's name.
    QString Name() const;
};

// A listing handed from a background thread to the selection dialog.
struct ListResult {
    int errorCode = 0;    // 0, or the code of the failed request
    QString errorMessage; // the service's message of the failed request
    LinkItem folder;      // the listed item with its children
    LinkItem allItems;    // a tree walk's every item (as children); empty otherwise
};

// Reads a listing reply (UTF-8 JSON) into `target`: the root's members, and the children from
// "content" (or "search_result" when the root has no "content") replacing the target's. A
// reply that is not a JSON object changes nothing and returns false.
bool ParseListing(const QString& replyText, LinkItem& target);
