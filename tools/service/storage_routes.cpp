#include "file_content.h"
#include "item_json.h"
#include "routes.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace parvex_service {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

StorageQuery ReadStorageQuery(const QueryParams& query) {
    StorageQuery storageQuery;
    storageQuery.pathType = QueryValue(query, "path_type", "ent");
    storageQuery.from = QueryValue(query, "from");
    storageQuery.neid = QueryValue(query, "neid");
    storageQuery.prefixNeid = QueryValue(query, "prefix_neid");
    return storageQuery;
}

std::string StoragePath(const std::string& below) {
    return below.empty() ? "/" : below;
}

Reply Listing(ServiceState& state, const RouteInput& input, const Item& item,
              const std::string& path) {
    const Scenario& scenario = state.GetScenario();
    const std::uint64_t pageSize = static_cast<std::uint64_t>(scenario.options.pageSize);
    std::uint64_t limit = QueryNumber(input.query, "limit", pageSize);
    if (limit == 0) {
        limit = pageSize;
    }
    return JsonReply(StorageListing(scenario.storage, item, path, ReadStorageQuery(input.query),
                                    QueryValue(input.query, "list") == "true",
                                    QueryNumber(input.query, "offset", 0), limit,
                                    scenario.options.modified));
}

Reply Revisions(ServiceState& state, const RouteInput& input, const Item& item,
                const std::string& path) {
    const Scenario& scenario = state.GetScenario();
    return JsonReply(StorageRevisions(scenario.storage, item, path, ReadStorageQuery(input.query),
                                      QueryNumber(input.query, "rev_limit", 1000),
                                      scenario.options.modified));
}

// The current content, or that of an earlier revision named by "rev".
Reply Router(ServiceState& state, const RouteInput& input, const Item& item,
             const std::string& path) {
    if (item.isDir) {
        return ErrorReply(400, "not a file", "A folder cannot be downloaded",
                          state.NextRequestId());
    }
    const std::string rev = QueryValue(input.query, "rev");
    std::uint64_t size = item.size;
    std::string key = path;
    if (!rev.empty() && rev != (item.rev.empty() ? "1" : item.rev)) {
        const Revision* found = nullptr;
        for (const Revision& revision : item.revisions) {
            if (revision.rev == rev) {
                found = &revision;
            }
        }
        if (found == nullptr) {
            return ErrorReply(404, "file/folder not found", "No revision " + rev + " of " + path,
                              state.NextRequestId());
        }
        size = found->size;
        key = RevisionContentPath(path, rev);
    }
    return ContentReply(ContentSeed("", key), size, input.request, input.fault,
                        state.NextRequestId());
}

Reply UserInfo(ServiceState& state) {
    const Storage& storage = state.GetScenario().storage;
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("uid");
    writer.String(storage.uid.c_str(), static_cast<rapidjson::SizeType>(storage.uid.size()));
    writer.Key("account_id");
    writer.String(storage.accountId.c_str(),
                  static_cast<rapidjson::SizeType>(storage.accountId.size()));
    writer.EndObject();
    return JsonReply(buffer.GetString());
}

Reply Support(ServiceState& state) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("support");
    writer.StartArray();
    for (const std::string& entry : state.GetScenario().options.support) {
        writer.String(entry.c_str(), static_cast<rapidjson::SizeType>(entry.size()));
    }
    writer.EndArray();
    writer.EndObject();
    return JsonReply(buffer.GetString());
}

} // namespace

std::optional<Reply> RouteStorage(ServiceState& state, const RouteInput& input) {
    const std::string& path = input.request.path;
    if (path == "/v2/user/info/get") {
        return IsGet(input) ? UserInfo(state) : WrongMethod(state, input);
    }
    if (path == "/v2/support") {
        return IsGet(input) ? Support(state) : WrongMethod(state, input);
    }
    enum class Call { Listing, Revisions, Router };
    static const std::pair<const char*, Call> kCalls[] = {
        {"/v2/metadata/databox", Call::Listing},
        {"/v2/revisions/databox", Call::Revisions},
        {"/v2/dl_router/databox", Call::Router},
    };
    for (const auto& [prefix, call] : kCalls) {
        std::string_view rest;
        if (!MatchPrefix(path, prefix, rest)) {
            continue;
        }
        if (!IsGet(input)) {
            return WrongMethod(state, input);
        }
        const Storage& storage = state.GetScenario().storage;
        Item scratch;
        std::string below;
        const Item* item = storage.present ? FindRaw(storage.root, rest, scratch, below) : nullptr;
        if (item == nullptr) {
            return NotFound(state, "No storage item " + StoragePath(PercentDecode(rest)));
        }
        switch (call) {
        case Call::Listing:
            return Listing(state, input, *item, StoragePath(below));
        case Call::Revisions:
            return Revisions(state, input, *item, StoragePath(below));
        case Call::Router:
            return Router(state, input, *item, StoragePath(below));
        }
    }
    return std::nullopt;
}

} // namespace parvex_service
