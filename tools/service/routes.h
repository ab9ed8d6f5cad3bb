#pragma once

#include "fault.h"
#include "reply.h"
#include "request_log.h"
#include "scenario.h"
#include "service_state.h"
#include "url_text.h"

#include <optional>
#include <string>
#include <string_view>

namespace parvex_service {

// One request as the routes see it.
struct RouteInput {
    const RecordedRequest& request;
    QueryParams query;
    const Fault* fault; // a fault that shapes content (ranges), or nullptr
};

// The answer to any request: one of the routes below, else a 404 error object.
Reply Route(ServiceState& state, const RouteInput& input);

// Link calls under /v2/system and /v2/delivery.
std::optional<Reply> RouteDelivery(ServiceState& state, const RouteInput& input);
// The user's storage, identity and capabilities under /v2.
std::optional<Reply> RouteStorage(ServiceState& state, const RouteInput& input);
// Addresses outside /v2: link pages, short addresses, converted and watermarked files,
// statistics.
std::optional<Reply> RouteSite(ServiceState& state, const RouteInput& input);

// Helpers shared by the routes.

// True when `path` is `prefix` or continues it with "/"; `rest` gets what follows `prefix`.
bool MatchPrefix(std::string_view path, std::string_view prefix, std::string_view& rest);
// Splits "CODE/a/b" into the decoded code and the raw rest ("/a/b" or "").
void SplitCode(std::string_view rest, std::string& code, std::string& rawBelow);
// The item at the raw (percent-encoded or not) path below `root`, and its canonical path
// ("" or "/a/b"). Each segment is decoded on its own; a path whose first "%" the client
// escaped once more is decoded twice.
const Item* FindRaw(const Item& root, std::string_view rawBelow, Item& scratch, std::string& below);
bool IsGet(const RouteInput& input);
Reply NotFound(ServiceState& state, const std::string& what);
Reply WrongMethod(ServiceState& state, const RouteInput& input);
std::uint64_t QueryNumber(const QueryParams& query, std::string_view name, std::uint64_t fallback);

} // namespace parvex_service
