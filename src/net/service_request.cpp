#include "net/service_request.h"

#include "engine/engine_context.h"
#include "engine/json_fields.h"
#include "engine/json_text.h"
#include "engine/message_texts.h"
#include "log/format_text.h"

namespace {

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
           c == '\'' || c == '(' || c == ')' || c == '*' || c == '-' || c == '.' || c == '/' ||
           c == '_' || c == '~';
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

std::string JoinParams(const ServiceParams& params) {
    std::string joined;
    for (const auto& [name, value] : params) {
        if (!joined.empty()) {
            joined += '&';
        }
        joined += name + "=" + value;
    }
    return joined;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (Unreserved(c)) {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

std::string ServiceLanguage() {
    return PlatformTextsInEnglish(GetEngineContext().settings.Language()) ? "en" : "zh";
}

std::unique_ptr<CHttpClient> MakeServiceRequest(const std::string& baseUrl, const std::string& verb,
                                                const std::string& path,
                                                const ServiceParams& params,
                                                const std::string& transferKey) {
    std::string url = FormatText("%s/v%d/%s", baseUrl.c_str(), kServiceApiVersion, path.c_str());
    const std::string joined = JoinParams(params);
    if (verb == "GET" && !joined.empty()) {
        url += "?" + joined;
    }
    auto client = std::make_unique<CHttpClient>(verb, url, transferKey);
    if (verb != "GET") {
        client->SetBody(joined);
    }
    return client;
}

std::unique_ptr<CHttpClient> MakeUrlRequest(const std::string& url, const std::string& verb,
                                            const ServiceParams& params) {
    const std::string joined = JoinParams(params);
    std::string full = url;
    if (verb == "GET" && !joined.empty()) {
        full += (Contains(url, "?") ? "&" : "?") + joined;
    }
    auto client = std::make_unique<CHttpClient>(verb, full);
    if (verb != "GET") {
        client->SetBody(joined);
    }
    return client;
}

void AddServiceCookies(CHttpClient& client) {
    client.SetCookie("language", ServiceLanguage());
    const std::string session = GetEngineContext().settings.SessionText();
    if (!session.empty()) {
        client.SetCookie("X-VARNOK-SESS-ID", session);
    }
}

int CallService(CHttpClient& client, ServiceReply& reply) {
    AddServiceCookies(client);
    const int result = client.Send();
    if (result != 0) {
        return result;
    }
    reply.status = client.GetStatus();
    reply.body = client.GetBodyText();
    return CheckErrorReply(reply);
}

bool ParseReply(const std::string& body, rapidjson::Document& document) {
    return ParseJsonText(body, document);
}

int ParseReplyBody(const ServiceReply& reply, rapidjson::Document& document) {
    if (reply.body.empty() || !ParseReply(reply.body, document)) {
        return service_code::kUnusableReply;
    }
    return 0;
}

void ReadErrorObject(const rapidjson::Value& object, const char* messageKey, ServiceReply& reply) {
    reply.errorType = "error";
    reply.errorState = json_fields::ReadInt32(object, "state");
    reply.errorCode = json_fields::ReadText(object, "code");
    reply.errorMessage = json_fields::ReadText(object, messageKey);
    reply.requestId = json_fields::ReadText(object, "request_id");
}

int CheckErrorReply(ServiceReply& reply) {
    rapidjson::Document document;
    if (const int result = ParseReplyBody(reply, document); result != 0) {
        return result;
    }
    if (!document.IsObject()) {
        return 0;
    }
    const auto type = document.FindMember("type");
    if (type == document.MemberEnd() || !type->value.IsString() ||
        std::string_view(type->value.GetString(), type->value.GetStringLength()) != "error") {
        return 0;
    }
    ReadErrorObject(document, "message", reply);
    return MapServerError(reply.errorCode);
}

int MapServerError(std::string_view code) {
    if (code == "Invalid session" || Contains(code, "token is not exist")) {
        return service_code::kSessionInvalid;
    }
    if (code == "target name exists" || code == "folder_already_existed") {
        return service_code::kNameExists;
    }
    if (code == "source not found" || code == "nameentry_not_exist" ||
        code == "file/folder not found") {
        return service_code::kNotFound;
    }
    if (Contains(code, "forbidden")) {
        return service_code::kForbidden;
    }
    if (code == "path_too_long") {
        return service_code::kPathTooLong;
    }
    if (Contains(code, "space limit")) {
        return service_code::kSpaceLimit;
    }
    if (Contains(code, "file is locked")) {
        return service_code::kFileLocked;
    }
    return service_code::kOtherError;
}
