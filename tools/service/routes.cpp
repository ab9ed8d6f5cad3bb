#include "routes.h"

#include <charconv>

namespace parvex_service {

namespace {

// Each segment of a raw path decoded `times` times on its own: an encoded "/" stays inside
// its name, and "%25" never joins the digits after it into a second escape.
std::vector<std::string> DecodeSegments(std::string_view rawPath, int times) {
    std::vector<std::string> segments;
    for (std::string_view raw : PathSegments(rawPath)) {
        std::string segment(raw);
        for (int i = 0; i < times; ++i) {
            segment = PercentDecode(segment);
        }
        segments.push_back(std::move(segment));
    }
    return segments;
}

// "" or "/a/b": the non-empty segments.
std::string Canonical(const std::vector<std::string>& segments) {
    std::string out;
    for (const std::string& segment : segments) {
        if (!segment.empty()) {
            out += '/';
            out += segment;
        }
    }
    return out;
}

bool AnyHolds(const std::vector<std::string>& segments, char c) {
    for (const std::string& segment : segments) {
        if (segment.find(c) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

Reply Route(ServiceState& state, const RouteInput& input) {
    if (auto reply = RouteDelivery(state, input)) {
        return std::move(*reply);
    }
    if (auto reply = RouteStorage(state, input)) {
        return std::move(*reply);
    }
    if (auto reply = RouteSite(state, input)) {
        return std::move(*reply);
    }
    return NotFound(state, "No such address: " + input.request.path);
}

bool MatchPrefix(std::string_view path, std::string_view prefix, std::string_view& rest) {
    if (path.substr(0, prefix.size()) != prefix ||
        (path.size() > prefix.size() && prefix.back() != '/' && path[prefix.size()] != '/')) {
        return false;
    }
    rest = path.substr(prefix.size());
    return true;
}

void SplitCode(std::string_view rest, std::string& code, std::string& rawBelow) {
    const std::size_t slash = rest.find('/');
    code = PercentDecode(rest.substr(0, slash));
    rawBelow = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash));
}

const Item* FindRaw(const Item& root, std::string_view rawBelow, Item& scratch,
                    std::string& below) {
    std::vector<std::string> segments = DecodeSegments(rawBelow, 1);
    const Item* item = FindItemBySegments(root, segments, scratch);
    if (item == nullptr && AnyHolds(segments, '%')) {
        segments = DecodeSegments(rawBelow, 2);
        item = FindItemBySegments(root, segments, scratch);
    }
    below = Canonical(segments);
    return item;
}

bool IsGet(const RouteInput& input) {
    return input.request.method == "GET" || input.request.method == "HEAD";
}

Reply NotFound(ServiceState& state, const std::string& what) {
    return ErrorReply(404, "nameentry_not_exist", what, state.NextRequestId());
}

Reply WrongMethod(ServiceState& state, const RouteInput& input) {
    return ErrorReply(405, "method not allowed",
                      input.request.method + " is not answered at " + input.request.path,
                      state.NextRequestId());
}

std::uint64_t QueryNumber(const QueryParams& query, std::string_view name, std::uint64_t fallback) {
    const std::string text = QueryValue(query, name);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() ? value
                                                                                     : fallback;
}

} // namespace parvex_service
