#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

// What one call to the service gave: the common part that every call fills, and the fields a
// particular call reads from its reply.
struct ServiceReply {
    std::string body; // the response body (UTF-8)
    int status = 0;
    // Members of an error object, when the body was one.
    std::string errorType; // "error", else empty
    int errorState = 0;
    std::string errorCode;
    std::string errorMessage;
    std::string requestId;
    // Per call: a redirect target, "public_key", "token" or "uid"; "account_id"; "isLoginVerify".
    std::string resultText;
    std::string secondResultText;
    bool resultFlag = false;
};

// An item of the user's storage as the service lists it.
struct BoxMetadata {
    int accessMode = 0;
    std::int64_t size = 0;
    std::string hash;
    bool isFolder = false;
    std::string creator;
    std::string path;
    std::string rev;
    std::string lockOwner;
    std::string pathType;
    std::string neid;
    std::string nsid;
    std::string from;
    std::string prefixNeid;

    void Read(const rapidjson::Value& object);
};

// An item of a share link as the service lists it.
struct DeliveryMetadata {
    int accessMode = 0;
    std::int64_t size = 0;
    std::string deliveryCode;
    std::string downloadUrl;
    std::string convertedUrl; // "eodDownloadUrl"
    std::string watermarkUrl; // "watermarkDownloadUrl"
    std::string metadataUrl;
    bool isFolder = false;
    std::string modified;
    std::string neid;
    std::string path;
    std::string rev;

    void Read(const rapidjson::Value& object);
};

struct RevisionItem : BoxMetadata {
    std::string version;
    std::string user;
    std::string op;

    void Read(const rapidjson::Value& object);
};

// A listing: the listed item and its children.
template <typename Item>
struct Listing : ServiceReply {
    Item item;
    std::vector<Item> children;
};
using BoxListing = Listing<BoxMetadata>;
using DeliveryListing = Listing<DeliveryMetadata>;

struct RevisionListing : ServiceReply {
    std::vector<RevisionItem> revisions;
};

// The children of a listing reply: the array "content", or when the root has no "content",
// the array "search_result"; nothing when the chosen member is not an array.
const rapidjson::Value* ListingChildren(const rapidjson::Value& root);

// Fills the item from the root and the children from ListingChildren.
template <typename Item>
void ReadListing(const rapidjson::Value& root, Listing<Item>& listing) {
    listing.item.Read(root);
    listing.children.clear();
    if (const rapidjson::Value* children = ListingChildren(root)) {
        for (const rapidjson::Value& child : children->GetArray()) {
            Item item;
            item.Read(child);
            listing.children.push_back(std::move(item));
        }
    }
}
