#include "net/service_calls.h"

#include "engine/engine_context.h"
#include "engine/folder_walk_guard.h"
#include "engine/json_fields.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "net/service_request.h"

#include <charconv>

namespace {

constexpr std::int64_t kFolderPage = 200;

std::string ServiceBase() {
    return GetEngineContext().settings.ServiceAddress();
}

// Reads a successful reply's body as JSON; an unreadable body leaves the document empty.
rapidjson::Document ReplyDocument(const ServiceReply& reply) {
    rapidjson::Document document;
    if (!ParseReply(reply.body, document)) {
        document.SetNull();
    }
    return document;
}

// The 200 form of a link resolution: any JSON object is the service's error.
int ReadResolveError(ServiceReply& reply) {
    rapidjson::Document document;
    if (const int result = ParseReplyBody(reply, document); result != 0) {
        return result;
    }
    if (!document.IsObject()) {
        return 0;
    }
    ReadErrorObject(document, "msg", reply);
    int code = 0;
    const char* begin = reply.errorCode.data();
    const char* end = begin + reply.errorCode.size();
    const auto [ptr, error] = std::from_chars(begin, end, code);
    if (error != std::errc() || ptr == begin || code <= 0) {
        // A code that is not a number still must not read as success.
        return service_code::kOtherError;
    }
    if (code == platform_error::kConnectionAborted) {
        reply.errorMessage = GetErrorText(code);
    }
    return code;
}

} // namespace

int ResolveLinkAddress(const std::string& linkAddress, ServiceReply& reply) {
    auto client = MakeUrlRequest(linkAddress, "GET");
    client->SetFollowRedirects(false);
    int result = CallService(*client, reply);
    if (result != 0 && reply.status == 0) {
        return result; // no reply at all
    }
    if (reply.status == 302) {
        reply.resultText = client->GetLocation();
        return reply.resultText.empty() ? result : 0;
    }
    if (reply.status == 200) {
        return ReadResolveError(reply);
    }
    return result;
}

int GetPublicKey(const std::string& baseUrl, ServiceReply& reply) {
    auto client = MakeServiceRequest(baseUrl, "GET", "system/get_publickey", {});
    const int result = CallService(*client, reply);
    if (result == 0) {
        reply.resultText = json_fields::ReadText(ReplyDocument(reply), "public_key");
    }
    return result;
}

int AuthenticateDelivery(const std::string& baseUrl, const std::string& deliveryCode,
                         const std::string& password, ServiceReply& reply) {
    auto client = MakeServiceRequest(baseUrl, "POST", "delivery/auth/" + deliveryCode,
                                     {{"password", PercentEncode(password)}});
    const int result = CallService(*client, reply);
    if (result == 0) {
        reply.resultText = json_fields::ReadText(ReplyDocument(reply), "token");
    }
    return result;
}

int IsLoginVerify(const std::string& baseUrl, const std::string& deliveryCode,
                  ServiceReply& reply) {
    auto client =
        MakeServiceRequest(baseUrl, "GET", "delivery/is_login_verify/" + deliveryCode, {});
    const int result = CallService(*client, reply);
    if (result == 0) {
        reply.resultFlag = json_fields::ReadBool(ReplyDocument(reply), "isLoginVerify");
    }
    return result;
}

int GetJson(const std::string& url, ServiceReply& reply) {
    auto client = MakeUrlRequest(url, "GET");
    return CallService(*client, reply);
}

int GetJsonPage(const std::string& url, std::int64_t offset, ServiceReply& reply,
                const std::atomic<bool>* stop) {
    auto client = MakeUrlRequest(url, "GET", {{"offset", std::to_string(offset)}});
    client->SetAbortFlag(stop);
    return CallService(*client, reply);
}

int GetWithContentLength(const std::string& url, ServiceReply& reply, std::int64_t& size) {
    size = -1;
    auto client = MakeUrlRequest(url, "GET");
    AddServiceCookies(*client);
    // Only the headers are wanted: a streamed exchange ends before the body.
    const int result = client->SendForStream();
    reply.status = client->GetStatus();
    if (result == 0) {
        const auto& headers = client->ResponseHeaders();
        const auto it = headers.find("content-length");
        if (it != headers.end()) {
            std::int64_t length = 0;
            const auto [ptr, error] =
                std::from_chars(it->second.data(), it->second.data() + it->second.size(), length);
            if (error == std::errc() && ptr == it->second.data() + it->second.size()) {
                size = length;
            }
        }
        client->CloseStream();
        return size >= 0 ? 0 : service_code::kUnusableReply;
    }
    if (result == service_code::kOtherError) {
        reply.body = client->GetBodyText();
        const int mapped = CheckErrorReply(reply);
        return mapped != 0 ? mapped : result;
    }
    return result;
}

int ListFolder(const BoxFileInfo& box, std::int64_t limit, int offset, bool list, BoxListing& reply,
               const std::atomic<bool>* stop) {
    // The item's fields came from the service: encoded, they cannot add parameters.
    const ServiceParams params{
        {"from", PercentEncode(box.from)},          {"include_deleted", "false"},
        {"limit", std::to_string(limit)},           {"list", list ? "true" : "false"},
        {"neid", PercentEncode(box.neid)},          {"offset", std::to_string(offset)},
        {"path_type", PercentEncode(box.pathtype)}, {"prefix_neid", PercentEncode(box.prefixneid)},
    };
    auto client = MakeServiceRequest(ServiceBase(), "GET",
                                     "metadata/databox" + PercentEncode(box.path), params);
    client->SetAbortFlag(stop);
    const int result = CallService(*client, reply);
    if (result == 0) {
        ReadListing(ReplyDocument(reply), reply);
    }
    return result;
}

int ListFolderAll(const BoxFileInfo& box, std::int64_t limit, int offset, bool list,
                  BoxListing& reply, const std::atomic<bool>* stop) {
    if (limit != 0 && limit < kFolderPage) {
        return ListFolder(box, limit, offset, list, reply, stop);
    }
    std::vector<BoxMetadata> collected;
    CFolderPages pages;
    int result = 0;
    for (;;) {
        BoxListing page;
        result = ListFolder(box, kFolderPage, static_cast<int>(collected.size()), true, page, stop);
        static_cast<ServiceReply&>(reply) = page;
        reply.item = page.item;
        if (result != 0) {
            break;
        }
        if (!pages.Accept(page.children.empty() ? std::string() : page.children.front().path) ||
            collected.size() + page.children.size() > CFolderWalkGuard::kMaxItems) {
            result = engine_code::kEndlessListing;
            reply.errorMessage = GetErrorText(result);
            break;
        }
        collected.insert(collected.end(), page.children.begin(), page.children.end());
        if (static_cast<std::int64_t>(page.children.size()) < kFolderPage ||
            (limit != 0 && static_cast<std::int64_t>(collected.size()) >= limit)) {
            break;
        }
    }
    reply.children = std::move(collected);
    return result;
}

int ListRevisions(const BoxFileInfo& box, int revisionLimit, RevisionListing& reply) {
    ServiceParams params{
        {"from", PercentEncode(box.from)},
        {"neid", PercentEncode(box.neid)},
        {"path", PercentEncode(box.path)},
        {"path_type", PercentEncode(box.pathtype)},
        {"rev_limit", std::to_string(revisionLimit)},
    };
    if (!box.prefixneid.empty()) {
        params["prefix_neid"] = PercentEncode(box.prefixneid);
    }
    auto client = MakeServiceRequest(ServiceBase(), "GET",
                                     "revisions/databox" + PercentEncode(box.path), params);
    const int result = CallService(*client, reply);
    if (result == 0) {
        const rapidjson::Document document = ReplyDocument(reply);
        reply.revisions.clear();
        if (document.IsArray()) {
            for (const rapidjson::Value& element : document.GetArray()) {
                RevisionItem item;
                item.Read(element);
                reply.revisions.push_back(std::move(item));
            }
        }
    }
    return result;
}

int GetUserInfo(ServiceReply& reply) {
    auto client = MakeServiceRequest(ServiceBase(), "GET", "user/info/get", {});
    const int result = CallService(*client, reply);
    if (result == 0) {
        const rapidjson::Document document = ReplyDocument(reply);
        reply.resultText = json_fields::ReadText(document, "uid");
        reply.secondResultText = json_fields::ReadText(document, "account_id");
    }
    return result;
}

int GetSupport(const std::string& baseUrl, ServiceReply& reply,
               std::vector<std::string>& capabilities) {
    capabilities.clear();
    auto client = MakeServiceRequest(baseUrl, "GET", "support", {});
    const int result = CallService(*client, reply);
    if (result != 0) {
        return result;
    }
    const rapidjson::Document document = ReplyDocument(reply);
    if (!document.IsObject()) {
        return result;
    }
    const auto support = document.FindMember("support");
    if (support == document.MemberEnd() || !support->value.IsArray()) {
        return result;
    }
    for (const rapidjson::Value& entry : support->value.GetArray()) {
        if (entry.IsString()) {
            capabilities.emplace_back(entry.GetString(), entry.GetStringLength());
        }
    }
    return result;
}
