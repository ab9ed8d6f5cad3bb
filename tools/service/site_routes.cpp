#include "file_content.h"
#include "item_json.h"
#include "routes.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace parvex_service {

namespace {

// A 1x1 transparent GIF, the answer of the statistics address.
constexpr unsigned char kPixel[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

Reply LinkPage(ServiceState& state, const std::string& code) {
    const Link* link = state.FindLink(code);
    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    if (link == nullptr) {
        reply.status = 404;
        reply.body = "<!DOCTYPE html><html><body><p>This link does not exist.</p></body></html>";
        return reply;
    }
    reply.body = "<!DOCTYPE html><html><head><title>" + HtmlEscape(link->item.name) +
                 "</title></head><body><h1>" + HtmlEscape(link->item.name) +
                 "</h1><p>Shared link " + HtmlEscape(code) + "</p></body></html>";
    return reply;
}

Reply ShortAddressReply(ServiceState& state, const ShortAddress& address) {
    if (!address.isError) {
        Reply reply;
        reply.status = 302;
        reply.headers.emplace_back("Location", state.BaseUrl() + "/link/view/" + address.code);
        return reply;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("code");
    writer.String(address.errorCode.c_str(),
                  static_cast<rapidjson::SizeType>(address.errorCode.size()));
    writer.Key("msg");
    writer.String(address.errorMessage.c_str(),
                  static_cast<rapidjson::SizeType>(address.errorMessage.size()));
    writer.EndObject();
    return JsonReply(buffer.GetString());
}

// A copy of a link file (converted or watermarked), keyed apart from the file itself.
Reply CopyContent(ServiceState& state, const RouteInput& input, const std::string& code,
                  const std::string& rawBelow, bool converted) {
    const Link* link = state.FindLink(code);
    Item scratch;
    std::string below;
    const Item* item = link != nullptr ? FindRaw(link->item, rawBelow, scratch, below) : nullptr;
    const bool offered = item != nullptr && !item->isDir &&
                         (converted ? item->converted.has_value() : item->watermark.has_value());
    if (!offered) {
        return NotFound(state, std::string("No ") + (converted ? "converted" : "watermarked") +
                                   " copy of " + below + " in the link " + code);
    }
    const std::string path = LinkItemPath(*link, below);
    const std::string key = converted ? ConvertedContentPath(path) : WatermarkContentPath(path);
    const std::uint64_t size = converted ? item->converted->size : item->watermark->size;
    return ContentReply(ContentSeed(code, key), size, input.request, input.fault,
                        state.NextRequestId(),
                        converted ? "application/octet-stream" : "application/pdf");
}

} // namespace

std::optional<Reply> RouteSite(ServiceState& state, const RouteInput& input) {
    const std::string& path = input.request.path;
    for (const ShortAddress& address : state.GetScenario().shortAddresses) {
        if (address.path == path) {
            return IsGet(input) ? ShortAddressReply(state, address) : WrongMethod(state, input);
        }
    }
    std::string_view rest;
    if (path == "/st.gif") {
        Reply reply;
        reply.contentType = "image/gif";
        reply.body.assign(reinterpret_cast<const char*>(kPixel), sizeof(kPixel));
        return reply;
    }
    if (MatchPrefix(path, "/link/view/", rest)) {
        return IsGet(input) ? LinkPage(state, PercentDecode(rest)) : WrongMethod(state, input);
    }
    if (MatchPrefix(path, "/eodfile/", rest)) {
        if (!IsGet(input)) {
            return WrongMethod(state, input);
        }
        const std::string code = PercentDecode(rest.substr(0, rest.find('/')));
        // The split at "?" drops an appended "?token=" from the source path.
        const QueryParams raw = ParseQuery(input.request.query, false);
        return CopyContent(state, input, code, QueryValue(raw, "source_path"), true);
    }
    if (path == "/GetWatermarkFile") {
        if (!IsGet(input)) {
            return WrongMethod(state, input);
        }
        const QueryParams raw = ParseQuery(input.request.query, false);
        return CopyContent(state, input, QueryValue(input.query, "code"), QueryValue(raw, "url"),
                           false);
    }
    return std::nullopt;
}

} // namespace parvex_service
