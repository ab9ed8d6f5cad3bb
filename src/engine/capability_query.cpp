#include "engine/capability_query.h"

#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "net/service_calls.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool OffersIncrementalSync(const std::string& baseUrl) {
    ServiceReply reply;
    std::vector<std::string> capabilities;
    if (const int result = GetSupport(baseUrl, reply, capabilities); result != 0) {
        EngineLogF(kEngineLogError, "GetIdtSupport: %d", result);
        return false;
    }
    const auto offers = [&capabilities](const char* name) {
        return std::find(capabilities.begin(), capabilities.end(), name) != capabilities.end();
    };
    return offers("files/signature") && offers("files/patch");
}

} // namespace

bool QueryIncrementalSync() {
    const std::string baseUrl = GetEngineContext().settings.DefaultDataServer();
    // Without a default data server start-up makes no network call.
    const bool supported = !baseUrl.empty() && OffersIncrementalSync(baseUrl);
    EngineLogF(kEngineLogInfo, "IsUseRSyncTransfer: %s", supported ? "true" : "false");
    return supported;
}
