#include "file_content.h"
#include "item_json.h"
#include "routes.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace parvex_service {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

Reply PublicKey(ServiceState& state) {
    const Options& options = state.GetScenario().options;
    if (options.keyCall == KeyCall::Missing) {
        return NotFound(state, "No public key here");
    }
    if (options.keyCall == KeyCall::Empty) {
        return JsonReply(std::string());
    }
    const std::string key = options.keyFormat == KeyFormat::Pem ? state.Key().PublicKeyPem()
                                                                : state.Key().PublicKeyBase64Body();
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("public_key");
    writer.String(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
    writer.EndObject();
    return JsonReply(buffer.GetString());
}

Reply UnknownLink(ServiceState& state, const std::string& code) {
    return NotFound(state, "The link " + code + " does not exist");
}

Reply BadToken(ServiceState& state) {
    return ErrorReply(401, "token is not exist", "The access token is not valid",
                      state.NextRequestId());
}

bool TokenMatches(ServiceState& state, const RouteInput& input, const std::string& code) {
    return QueryValue(input.query, "token") == state.Token(code);
}

// The password text is tried as the Base64 of an RSA ciphertext first, then as clear text
// (the client sends it in clear when the key call failed).
Reply Authenticate(ServiceState& state, const RouteInput& input, const std::string& code) {
    const Link* link = state.FindLink(code);
    if (link == nullptr) {
        return UnknownLink(state, code);
    }
    const std::string sent = QueryValue(ParseQuery(input.request.body), "password");
    std::optional<std::string> decrypted;
    if (!sent.empty()) {
        const std::optional<std::string> cipher = Base64Decode(sent);
        if (cipher && static_cast<int>(cipher->size()) == state.Key().Size()) {
            decrypted = state.Key().Decrypt(*cipher);
        }
    }
    state.SetLastDecrypted(code, decrypted);
    const bool accepted = (decrypted && *decrypted == link->password) || sent == link->password;
    if (!accepted) {
        return ErrorReply(403, "password is wrong", "The password is wrong", state.NextRequestId());
    }
    return JsonReply("{\"token\":\"" + state.Token(code) + "\"}");
}

// The item of a link that a metadata or download request names, after the link and its
// token are checked. Without an item, `failure` holds the refusal.
struct TokenItem {
    const Link* link = nullptr;
    const Item* item = nullptr;
    Item scratch; // holds a generated item; `item` may point to it, so the record stays put
    std::string below;
    Reply failure;
};

void FindTokenItem(ServiceState& state, const RouteInput& input, const std::string& code,
                   const std::string& rawBelow, TokenItem& found) {
    found.link = state.FindLink(code);
    if (found.link == nullptr) {
        found.failure = UnknownLink(state, code);
    } else if (!TokenMatches(state, input, code)) {
        found.failure = BadToken(state);
    } else {
        found.item = FindRaw(found.link->item, rawBelow, found.scratch, found.below);
        if (found.item == nullptr) {
            found.failure = NotFound(state, "No item " + found.below + " in the link " + code);
        }
    }
}

Reply Metadata(ServiceState& state, const RouteInput& input, const std::string& code,
               const std::string& rawBelow) {
    TokenItem found;
    FindTokenItem(state, input, code, rawBelow, found);
    if (found.item == nullptr) {
        return found.failure;
    }
    const Options& options = state.GetScenario().options;
    return JsonReply(DeliveryListing(state.BaseUrl(), *found.link, *found.item, found.below,
                                     QueryNumber(input.query, "offset", 0), options.pageSize,
                                     options.modified));
}

Reply Download(ServiceState& state, const RouteInput& input, const std::string& code,
               const std::string& rawBelow) {
    TokenItem found;
    FindTokenItem(state, input, code, rawBelow, found);
    if (found.item == nullptr) {
        return found.failure;
    }
    if (found.item->isDir) {
        return ErrorReply(400, "not a file", "A folder cannot be downloaded",
                          state.NextRequestId());
    }
    return ContentReply(ContentSeed(code, LinkItemPath(*found.link, found.below)), found.item->size,
                        input.request, input.fault, state.NextRequestId());
}

Reply ConvertedPoll(ServiceState& state, const std::string& code, const std::string& rawBelow) {
    const Link* link = state.FindLink(code);
    if (link == nullptr) {
        return UnknownLink(state, code);
    }
    Item scratch;
    std::string below;
    const Item* item = FindRaw(link->item, rawBelow, scratch, below);
    if (item == nullptr || !item->converted) {
        return NotFound(state, "No converted document " + below + " in the link " + code);
    }
    const int polls = item->converted->polls >= 0 ? item->converted->polls
                                                  : state.GetScenario().options.convertedPolls;
    if (state.CountConvertedPoll(code, below) < polls) {
        return JsonReply("{\"state\":100,\"downloadUrl\":\"\"}");
    }
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("state");
    writer.Int(200);
    writer.Key("downloadUrl");
    const std::string url = ConvertedFileUrl(state.BaseUrl(), code, below);
    writer.String(url.c_str(), static_cast<rapidjson::SizeType>(url.size()));
    writer.EndObject();
    return JsonReply(buffer.GetString());
}

Reply Remaining(ServiceState& state, const std::string& code) {
    if (state.FindLink(code) == nullptr) {
        return UnknownLink(state, code);
    }
    return JsonReply("{\"remain_download\":" + std::to_string(state.Remaining(code)) + "}");
}

Reply LoginVerify(ServiceState& state, const std::string& code) {
    if (state.FindLink(code) == nullptr) {
        return UnknownLink(state, code);
    }
    return JsonReply(std::string("{\"isLoginVerify\":") +
                     (state.LoginOnly(code) ? "true" : "false") + "}");
}

} // namespace

std::optional<Reply> RouteDelivery(ServiceState& state, const RouteInput& input) {
    const std::string& path = input.request.path;
    std::string_view rest;
    if (path == "/v2/system/get_publickey") {
        return IsGet(input) ? PublicKey(state) : WrongMethod(state, input);
    }
    if (!MatchPrefix(path, "/v2/delivery/", rest)) {
        return std::nullopt;
    }
    const std::string_view call = rest.substr(0, rest.find('/'));
    std::string code;
    std::string rawBelow;
    if (call.size() < rest.size()) {
        SplitCode(rest.substr(call.size() + 1), code, rawBelow);
    }
    if (call == "auth") {
        return input.request.method == "POST" ? Authenticate(state, input, code)
                                              : WrongMethod(state, input);
    }
    if (!IsGet(input)) {
        return WrongMethod(state, input);
    }
    if (call == "metadata") {
        return Metadata(state, input, code, rawBelow);
    }
    if (call == "download") {
        return Download(state, input, code, rawBelow);
    }
    if (call == "eod") {
        return ConvertedPoll(state, code, rawBelow);
    }
    if (call == "get_remain_download_count") {
        return Remaining(state, code);
    }
    if (call == "is_login_verify") {
        return LoginVerify(state, code);
    }
    return std::nullopt;
}

} // namespace parvex_service
