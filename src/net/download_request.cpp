#include "net/download_request.h"

#include "engine/ascii_text.h"
#include "engine/delivery_url.h"
#include "engine/engine_context.h"
#include "engine/file_validator.h"
#include "engine/json_fields.h"
#include "engine/message_texts.h"
#include "engine/part_layout.h"
#include "log/format_text.h"
#include "net/http_options.h"
#include "net/service_calls.h"
#include "net/service_request.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int kConvertAttempts = 51;
constexpr std::chrono::milliseconds kConvertPause{100};

bool ParseInt64(std::string_view text, std::int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && ptr == end;
}

// "bytes START-END/TOTAL" (TOTAL may be "*"): the start and the total (-1 when not named).
bool ParseContentRange(std::string_view text, std::int64_t& start, std::int64_t& total) {
    if (!text.starts_with("bytes ")) {
        return false;
    }
    text.remove_prefix(6);
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash ||
        !ParseInt64(TrimBlanks(text.substr(0, dash)), start)) {
        return false;
    }
    const std::string_view totalText = TrimBlanks(text.substr(slash + 1));
    total = -1;
    return totalText == "*" || ParseInt64(totalText, total);
}

// The reply's strong ETag, else its Last-Modified date; empty when neither can be sent back.
std::string ReplyValidator(const HeaderMap& headers) {
    for (const char* name : {"etag", "last-modified"}) {
        const auto it = headers.find(name);
        if (it == headers.end()) {
            continue;
        }
        const std::string_view value = TrimBlanks(it->second);
        if (IsUsableValidator(value) && !value.starts_with("W/")) {
            return std::string(value);
        }
    }
    return std::string();
}

// A 200 to an If-Range: the file is no longer the version the validator names.
bool FileChanged(const DownloadRequest& request) {
    return request.status == 200 && !request.ifRange.empty() &&
           request.validator != request.ifRange;
}

// Whether a whole-file reply names another length than the file's.
bool OtherSize(const DownloadRequest& request, const CHttpClient& client) {
    const auto& headers = client.ResponseHeaders();
    const auto it = headers.find("content-length");
    std::int64_t length = -1;
    return it != headers.end() && ParseInt64(TrimBlanks(it->second), length) &&
           request.file.size > 0 && length != static_cast<std::int64_t>(request.file.size);
}

// Whether a 200 or 206 reply carries the asked range.
bool RangeMatches(const DownloadRequest& request, const CHttpClient& client) {
    if (request.status == 200) {
        return request.rangeStart == 0;
    }
    const auto& headers = client.ResponseHeaders();
    const auto it = headers.find("content-range");
    std::int64_t start = 0;
    std::int64_t total = -1;
    if (it == headers.end() || !ParseContentRange(it->second, start, total)) {
        return false;
    }
    const auto size = static_cast<std::int64_t>(request.file.size);
    return start == request.rangeStart && (total < 0 || size <= 0 || total == size);
}

// Waits, ending early on a stop request or the shutdown.
void PauseBetweenAttempts(const std::atomic<bool>* stop) {
    const auto deadline = std::chrono::steady_clock::now() + kConvertPause;
    while (std::chrono::steady_clock::now() < deadline) {
        if ((stop != nullptr && stop->load()) || IsHttpShutdown()) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ApplySize(const std::string& url, DeliveryMetadata& item) {
    ServiceReply reply;
    std::int64_t size = -1;
    GetWithContentLength(url, reply, size);
    if (size >= 0) {
        item.size = static_cast<std::uint64_t>(size) <= kMaxItemSize
                        ? size
                        : static_cast<std::int64_t>(kRefusedItemSize);
    }
}

// Resolves one item; false when it ends the walk (a watermarked folder).
bool ResolveItem(DeliveryMetadata& item, int& result, const std::atomic<bool>* stop) {
    if (!item.convertedUrl.empty()) {
        for (int attempt = 0; attempt < kConvertAttempts; ++attempt) {
            if ((stop != nullptr && stop->load()) || IsHttpShutdown()) {
                break;
            }
            ServiceReply reply;
            result = GetJson(item.convertedUrl, reply);
            if (result != 0) {
                PauseBetweenAttempts(stop);
                continue;
            }
            rapidjson::Document document;
            ParseReply(reply.body, document);
            const int state = json_fields::ReadInt32(document, "state");
            item.downloadUrl = json_fields::ReadText(document, "downloadUrl");
            if (!item.downloadUrl.empty()) {
                ApplySize(item.downloadUrl, item);
            }
            if (state == 200) {
                break;
            }
            PauseBetweenAttempts(stop);
        }
        return true;
    }
    if (!item.watermarkUrl.empty()) {
        if (item.isFolder) {
            result = service_code::kWatermarkedFolder;
            return false;
        }
        item.downloadUrl = item.watermarkUrl;
        ApplySize(item.downloadUrl, item);
    }
    return true;
}

} // namespace

bool IsSyncGroup(const std::string& groupId) {
    return groupId.size() == 38 && groupId.front() == '{' && groupId.back() == '}';
}

std::string DownloadUrlFor(const BoxFileInfo& file, bool syncTask) {
    if (AsciiLower(file.path.substr(0, 4)) == "http") {
        std::string url = file.path;
        // Names go out escaped, each "%", "?" and "#" with them, so that "y%41B" and "y%41%42"
        // name two files and "a?b" is not cut short.
        // The service's other addresses carry their own query, of which only the first "%" is
        // escaped, as the service expects.
        if (const std::size_t names = DeliveryItemPathStart(url); names != std::string::npos) {
            url = url.substr(0, names) + PercentEncode(std::string_view(url).substr(names));
        } else if (const std::size_t percent = url.find('%'); percent != std::string::npos) {
            url.replace(percent, 1, PercentEncode("%"));
        }
        const std::size_t token = file.metaurl.find("?token=");
        if (url.find("/GetWatermarkFile?") == std::string::npos && token != std::string::npos) {
            url += file.metaurl.substr(token);
        }
        return url;
    }
    std::string url =
        FormatText("%s/v%d/dl_router/databox", GetEngineContext().settings.ServiceAddress().c_str(),
                   kServiceApiVersion) +
        PercentEncode(file.path) + "?path_type=" + PercentEncode(file.pathtype);
    // The values came from the service: escaped, an "&", "#" or "=" in one stays inside it.
    const std::pair<const char*, const std::string*> optional[] = {
        {"&neid=", &file.neid},
        {"&rev=", &file.rev},
        {"&prefix_neid=", &file.prefixneid},
        {"&from=", &file.from},
    };
    for (const auto& [name, value] : optional) {
        if (!value->empty()) {
            url += name + PercentEncode(*value);
        }
    }
    if (syncTask) {
        url += "&op_type=sync";
    }
    return url;
}

bool OpenRange(DownloadRequest& request, bool syncTask) {
    request.client = std::make_unique<CHttpClient>("GET", DownloadUrlFor(request.file, syncTask));
    request.stream.clear();
    request.streamOffset = 0;
    request.replyText.clear();
    CHttpClient& client = *request.client;
    client.SetFollowRedirects(true);
    client.SetAbortFlag(request.abortFlag);
    AddServiceCookies(client);
    const std::string range =
        FormatText("bytes=%lld-%lld", static_cast<long long>(request.rangeStart),
                   static_cast<long long>(request.rangeEnd));
    client.SetHeader("Range", range + "\n");
    client.SetHeader("x-varnokws-range", range);
    if (!request.ifRange.empty()) {
        client.SetHeader("If-Range", request.ifRange);
    }
    request.result = client.SendForStream();
    request.status = client.GetStatus();
    if (request.result != 0) {
        request.replyText = client.GetBodyText();
        return false;
    }
    request.validator = ReplyValidator(client.ResponseHeaders());
    if (FileChanged(request)) {
        // A file of another size is not the one the task listed.
        request.result = OtherSize(request, client) ? engine_code::kWrongRangeFromServer
                                                    : engine_code::kFileChangedOnServer;
        client.CloseStream();
        return false;
    }
    if (!RangeMatches(request, client)) {
        client.CloseStream();
        request.result = engine_code::kWrongRangeFromServer;
        return false;
    }
    return true;
}

int ReadSome(DownloadRequest& request, char* destination, std::size_t wanted) {
    if (request.client == nullptr) {
        return 0;
    }
    if (request.streamOffset >= request.stream.size()) {
        request.stream.clear();
        request.streamOffset = 0;
        const int read = request.client->ReadStreamChunk(request.stream);
        if (read < 0) {
            request.result = request.client->LastError();
            return -1;
        }
        if (read == 0) {
            return 0;
        }
    }
    const std::size_t count = std::min(wanted, request.stream.size() - request.streamOffset);
    std::memcpy(destination, request.stream.data() + request.streamOffset, count);
    request.streamOffset += count;
    return static_cast<int>(count);
}

int GetRangeError(const DownloadRequest& request, ServiceReply& reply) {
    reply.status = request.status;
    reply.body = request.replyText;
    return CheckErrorReply(reply);
}

void CloseRange(DownloadRequest& request) {
    if (request.client != nullptr) {
        request.client->CloseStream();
    }
}

int ResolveDeliveryListing(DeliveryListing& listing, const std::atomic<bool>* stop) {
    int result = CheckErrorReply(listing);
    if (result != 0) {
        return result;
    }
    rapidjson::Document document;
    ParseReply(listing.body, document);
    ReadListing(document, listing);
    if (!ResolveItem(listing.item, result, stop)) {
        return result;
    }
    for (DeliveryMetadata& child : listing.children) {
        if (!ResolveItem(child, result, stop)) {
            break;
        }
    }
    return result;
}

std::int64_t ProbeRemoteSize(const std::string& url) {
    CHttpClient client("GET", url);
    if (client.SendForStream() != 0) {
        return -1;
    }
    std::int64_t size = -1;
    const auto& headers = client.ResponseHeaders();
    if (const auto it = headers.find("content-length"); it != headers.end()) {
        if (!ParseInt64(it->second, size) || size < 0) {
            size = -1;
        }
    }
    client.CloseStream();
    return size;
}
