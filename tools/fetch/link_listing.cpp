#include "link_listing.h"

#include "engine/folder_walk_guard.h"
#include "engine/message_texts.h"
#include "net/service_request.h"

#include <rapidjson/document.h>

#include <cstdint>
#include <string_view>

namespace {

// The service sends the children of a folder in pages of 100; a shorter page is the last one.
constexpr std::size_t kPageSize = 100;

// One segment that stays inside the folder it is joined to.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string WithToken(const std::string& url, const std::string& token) {
    return url + "?token=" + token;
}

// The transfer manager's answer to a listing request, read into `page`.
bool ReadAnswer(CTovuTransMgr& mgr, char* body, int code, char* message, DeliveryListing& page,
                FetchFailure& failure) {
    const std::string text = TakeText(mgr, body);
    const std::string messageText = TakeText(mgr, message);
    if (code != 0) {
        failure = {code, messageText.empty() ? GetErrorText(code) : messageText};
        return false;
    }
    rapidjson::Document document;
    if (!ParseReply(text, document) || !document.IsObject()) {
        failure = {service_code::kUnusableReply, "the listing is not a JSON object"};
        return false;
    }
    ReadListing(document, page);
    return true;
}

bool ReadPage(CTovuTransMgr& mgr, const std::string& url, std::size_t offset, DeliveryListing& page,
              FetchFailure& failure) {
    int code = 0;
    char* message = nullptr;
    char* body = mgr.GetJsonPage(url.c_str(), &code, &message, static_cast<std::int64_t>(offset));
    return ReadAnswer(mgr, body, code, message, page, failure);
}

bool FailEndless(FetchFailure& failure) {
    failure = {engine_code::kEndlessListing, GetErrorText(engine_code::kEndlessListing)};
    return false;
}

bool AddFiles(CTovuTransMgr& mgr, const std::string& token, const DeliveryMetadata& folder,
              const std::string& prefix, int depth, CFolderWalkGuard& guard,
              std::vector<LinkFile>& files, FetchFailure& failure) {
    const std::string url = WithToken(folder.metadataUrl, token);
    if (!guard.EnterFolder(url, depth)) {
        return FailEndless(failure);
    }
    CFolderPages pages;
    for (std::size_t offset = 0;;) {
        DeliveryListing page;
        if (!ReadPage(mgr, url, offset, page, failure)) {
            return false;
        }
        if (!pages.Accept(page.children.empty() ? std::string() : page.children.front().path) ||
            !guard.AddItems(page.children.size())) {
            return FailEndless(failure);
        }
        for (const DeliveryMetadata& child : page.children) {
            const std::string name = ItemName(child);
            if (!IsPlainName(name)) {
                failure = {engine_code::kInvalidNameFromServer,
                           "the link holds an item named \"" + name + "\" below " + prefix};
                return false;
            }
            const std::string path = prefix + "/" + name;
            if (!child.isFolder) {
                files.push_back({WithToken(child.downloadUrl, token), path});
            } else if (!AddFiles(mgr, token, child, path, depth + 1, guard, files, failure)) {
                return false;
            }
        }
        if (page.children.size() < kPageSize) {
            return true;
        }
        offset += page.children.size();
    }
}

} // namespace

std::string ItemName(const DeliveryMetadata& item) {
    const std::size_t slash = item.path.rfind('/');
    return slash == std::string::npos ? item.path : item.path.substr(slash + 1);
}

bool OpenLink(CTovuTransMgr& mgr, const std::string& serviceAddress, const std::string& code,
              const std::string& password, OpenedLink& link, FetchFailure& failure) {
    char* token = nullptr;
    char* message = nullptr;
    const int result = mgr.AuthenticateLink(serviceAddress.c_str(), code.c_str(), password.c_str(),
                                            &token, &message);
    link.token = TakeText(mgr, token);
    const std::string messageText = TakeText(mgr, message);
    if (result != 0) {
        failure = {result, messageText.empty() ? GetErrorText(result) : messageText};
        return false;
    }
    int listCode = 0;
    char* listMessage = nullptr;
    char* body = mgr.GetDeliveryMetadata(serviceAddress.c_str(), code.c_str(), link.token.c_str(),
                                         &listCode, &listMessage, 0);
    DeliveryListing root;
    if (!ReadAnswer(mgr, body, listCode, listMessage, root, failure)) {
        return false;
    }
    link.root = root.item;
    if (!IsPlainName(ItemName(link.root))) {
        failure = {engine_code::kInvalidNameFromServer,
                   "the link's item has no usable name: \"" + link.root.path + "\""};
        return false;
    }
    return true;
}

bool ListLinkFiles(CTovuTransMgr& mgr, const OpenedLink& link, std::vector<LinkFile>& files,
                   FetchFailure& failure) {
    const std::string name = ItemName(link.root);
    if (!link.root.isFolder) {
        files.push_back({WithToken(link.root.downloadUrl, link.token), name});
        return true;
    }
    CFolderWalkGuard guard;
    return AddFiles(mgr, link.token, link.root, name, 0, guard, files, failure);
}
