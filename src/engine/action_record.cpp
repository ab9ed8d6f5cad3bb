#include "engine/action_record.h"

#include "log/format_text.h"
#include "net/service_request.h"

namespace {

// The state names, indexed by kind.
constexpr const char* kStateNames[] = {"ulfile", "ul4m", "dl", "er_ul", "er_dl"};

} // namespace

std::optional<std::string> ActionQuery(const ActionRecord& record) {
    const std::string path = PercentEncode(record.path);
    switch (record.kind) {
    case kActionSmallUpload:
    case kActionLargeUpload:
    case kActionDownload:
        return FormatText("state=%s&path=%s&size=%lld&speed=%d", kStateNames[record.kind],
                          path.c_str(), static_cast<long long>(record.size), record.speed);
    case kActionUploadFailed:
    case kActionDownloadFailed:
        return FormatText("state=%s&path=%s&er_state=%d&er_code=%s", kStateNames[record.kind],
                          path.c_str(), record.errorState, PercentEncode(record.errorCode).c_str());
    default:
        return std::nullopt;
    }
}
