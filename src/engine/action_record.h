#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the engine reports to the service's statistics endpoint about one file transfer.
enum ActionKind : std::int32_t {
    kActionSmallUpload = 0,    // "ulfile": an upload of at most 524,288 bytes finished
    kActionLargeUpload = 1,    // "ul4m"
    kActionDownload = 2,       // "dl"
    kActionUploadFailed = 3,   // "er_ul"
    kActionDownloadFailed = 4, // "er_dl"
    kActionSyncFinished = 5,   // queued by the synchronisation side, never sent
};

struct ActionRecord {
    std::int32_t kind = 0;
    std::string path;
    std::int64_t size = 0;
    std::int32_t speed = 0; // bytes per second
    std::int32_t errorState = 0;
    std::string errorCode;
};

// The query of a record (without the aid/uid suffix): the success form for kinds 0 to 2, the
// error form for 3 and 4, nullopt for any other kind. The texts are percent-encoded: a blank
// would make the URL unusable, and "&" or "#" in a path would cut or forge the query.
std::optional<std::string> ActionQuery(const ActionRecord& record);
