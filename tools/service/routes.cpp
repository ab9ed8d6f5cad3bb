#include "routes.h"

#include <charconv>

namespace parvex_service {

namespace {

std::string Canonical(std::string_view path) {
    std::string out;
    std::size_t begin = 0;
    while (begin < path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > begin) {
            out += '/';
            out.append(path.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return out;
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
    std::string decoded = PercentDecode(rawBelow);
    const Item* item = FindItem(root, decoded, scratch);
    if (item == nullptr && decoded.find('%') != std::string::npos) {
        decoded = PercentDecode(decoded);
        item = FindItem(root, decoded, scratch);
    }
    below = Canonical(decoded);
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
