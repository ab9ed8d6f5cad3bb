#include "engine/sub_task_fill.h"

#include "engine/ascii_text.h"
#include "engine/delivery_url.h"
#include "engine/engine_log.h"
#include "engine/local_name.h"
#include "engine/path_text.h"
#include "engine/secret_mask.h"

#include <optional>
#include <string_view>

namespace {

constexpr std::string_view kDeliveryMetadata = "/delivery/metadata/";

std::string_view CutBefore(std::string_view text, char mark) {
    const std::size_t pos = text.find(mark);
    return pos == std::string_view::npos ? text : text.substr(0, pos);
}

// The link's delivery code from its metadata address; nullopt (logged) when there is none.
std::optional<std::string> DeliveryCode(const std::string& metaurl) {
    if (metaurl.empty()) {
        EngineLog(kEngineLogError, "FillSubTaskInfo: boxFileInfo.m_strMetaUrl is empty");
        return std::nullopt;
    }
    if (metaurl.find(kDeliveryMetadata) == std::string::npos) {
        EngineLogF(kEngineLogError,
                   "FillSubTaskInfo: boxFileInfo.m_strMetaUrl can't find [/delivery/metadata/]: %s",
                   MaskSecrets(metaurl).c_str());
        return std::nullopt;
    }
    return DeliveryCodeOf(metaurl);
}

// The path from the first occurrence of the code on. A link item's download address holds
// names, "?" included, to its end; any other address ends before its query.
std::optional<std::string> FromCode(const std::string& path, const std::string& code,
                                    const char* what) {
    const std::size_t pos = code.empty() ? std::string::npos : path.find(code);
    if (pos == std::string::npos) {
        EngineLogF(kEngineLogError, "FillSubTaskInfo: %s error: %s", what,
                   MaskSecrets(path).c_str());
        return std::nullopt;
    }
    const std::string_view rest = std::string_view(path).substr(pos);
    if (DeliveryItemPathStart(path) != std::string::npos) {
        return std::string(rest);
    }
    return std::string(CutBefore(rest, '?'));
}

// The item made relative to the base, both normalised with "/". The rest must begin at a
// segment boundary, so "dir2/x" is not taken as inside "dir".
std::optional<std::string> MakeRelative(const std::string& item, const std::string& base) {
    if (base.empty()) {
        return item;
    }
    const std::string normalItem = PathText(item).Normalize().Text();
    const std::string normalBase = PathText(base).Normalize().Text();
    if (normalItem.compare(0, normalBase.size(), normalBase) != 0) {
        EngineLogF(kEngineLogError, "FillSubTaskInfo: MakeRelative failed: [%s] [%s]",
                   MaskSecrets(item).c_str(), MaskSecrets(base).c_str());
        return std::nullopt;
    }
    std::string rest = normalItem.substr(normalBase.size());
    if (!rest.empty() && rest.front() != '/' && normalBase.back() != '/') {
        EngineLogF(kEngineLogError, "FillSubTaskInfo: MakeRelative failed: [%s] [%s]",
                   MaskSecrets(item).c_str(), MaskSecrets(base).c_str());
        return std::nullopt;
    }
    return rest;
}

// Every segment of the relative part must be a plain name: joined below the task's folder it
// must stay inside it. Empty segments are only doubled separators and collapse.
bool IsSafeRelativePart(std::string_view relative) {
    if (relative.find('\0') != std::string_view::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("/\\", start);
        if (end == std::string_view::npos) {
            end = relative.size();
        }
        const std::string_view segment = relative.substr(start, end - start);
        if (segment == "." || segment == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// The local name of a segment that ends in the temporary suffix: the first numbered name no
// other sub-task has in the same folder (`parent`: the service-side relative part above it).
std::string NumberedSegment(std::string_view segment, const std::string& parent,
                            const RelativePartTaken& taken) {
    for (int number = 1; number < kMaxNameNumber; ++number) {
        std::string candidate = NumberedName(segment, number, true);
        if (!taken || !taken(parent + candidate)) {
            return candidate;
        }
    }
    return NumberedName(segment, kMaxNameNumber, true);
}

// The local form of a safe relative part: a segment that ends in the temporary suffix is
// numbered, so it can be neither another file's temporary name nor look like one.
std::string LocalRelativePart(const std::string& relative, const RelativePartTaken& taken) {
    const std::string normal = PathText(relative).Normalize().Text();
    std::string local;
    std::size_t start = 0;
    while (start <= normal.size()) {
        std::size_t end = normal.find('/', start);
        if (end == std::string::npos) {
            end = normal.size();
        }
        const std::string_view segment = std::string_view(normal).substr(start, end - start);
        local.append(HasTempSuffix(segment)
                         ? NumberedSegment(segment, normal.substr(0, start), taken)
                         : std::string(segment));
        if (end < normal.size()) {
            local.push_back('/');
        }
        start = end + 1;
    }
    return local;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The relative part of a sub-task below its task, or nullopt (logged).
std::optional<std::string> RelativePart(const CTaskInfo& task, const SubTaskSummary& summary) {
    if (AsciiLower(std::string_view(task.box_file.path).substr(0, 4)) != "http") {
        return MakeRelative(summary.path, task.box_file.path);
    }
    const std::optional<std::string> code = DeliveryCode(task.box_file.metaurl);
    if (!code) {
        return std::nullopt;
    }
    const std::optional<std::string> item = FromCode(summary.path, *code, "dbItem.m_strPath");
    if (!item) {
        return std::nullopt;
    }
    const std::optional<std::string> base =
        FromCode(task.box_file.path, *code, "boxFileInfo.m_strPath");
    if (!base) {
        return std::nullopt;
    }
    return MakeRelative(*item, *base);
}

// The sub-task's local path below the task's; nullopt (logged) when it cannot be derived safely.
std::optional<std::string> DownloadLocalPath(const CTaskInfo& task, const SubTaskSummary& summary,
                                             const RelativePartTaken& taken) {
    PathText local(task.local_file.path);
    if (summary.path == task.box_file.path) {
        return local.Text();
    }
    const std::optional<std::string> relative = RelativePart(task, summary);
    if (!relative) {
        return std::nullopt;
    }
    if (!IsSafeRelativePart(*relative)) {
        EngineLogF(kEngineLogError, "FillSubTaskInfo: unsafe path from the server refused: %s",
                   MaskSecrets(summary.path).c_str());
        return std::nullopt;
    }
    const std::string folder = PathText(task.local_file.path).Normalize().Text();
    local.Append(LocalRelativePart(*relative, taken));
    // The segment check already keeps the path inside; this guards the join itself.
    if (local.Text() != folder && !StartsWith(local.Text(), folder + "/") &&
        !(folder.ends_with('/') && StartsWith(local.Text(), folder))) {
        EngineLogF(kEngineLogError, "FillSubTaskInfo: unsafe path from the server refused: %s",
                   MaskSecrets(summary.path).c_str());
        return std::nullopt;
    }
    return local.Text();
}

} // namespace

std::optional<std::string> ServiceRelativePart(const CTaskInfo& task,
                                               const SubTaskSummary& summary) {
    if (summary.path == task.box_file.path) {
        return std::string();
    }
    const std::optional<std::string> relative = RelativePart(task, summary);
    if (!relative) {
        return std::nullopt;
    }
    return PathText(*relative).Normalize().Text();
}

bool FillSubTaskInfo(const CTaskInfo& task, const SubTaskSummary& summary, CSubTaskInfo& out,
                     const RelativePartTaken& taken) {
    out.Reset();
    out.is_upload = task.is_upload;
    out.is_folder = summary.is_folder;
    out.size = summary.size;
    out.state = summary.state;
    out.sub_task_path = summary.path;
    out.task_id = task.task_id;
    out.transmethod = summary.transmethod;
    out.rsyncstate = summary.rsyncstate;
    out.add_time = summary.add_time;

    bool derived = true;
    std::string localPath = task.local_file.path;
    if (!task.is_upload) {
        const std::optional<std::string> path = DownloadLocalPath(task, summary, taken);
        derived = path.has_value();
        if (path) {
            localPath = *path;
        }
    }

    out.local_file.path = localPath;
    out.local_file.size = summary.size;
    out.local_file.time.clear();
    out.box_file = task.box_file;
    out.box_file.path = summary.path;
    out.box_file.size = summary.size;
    out.box_file.rev = summary.finger_mark;
    out.box_file.neid.clear();

    // Empty until parts arrive: sized up front it would follow whatever size the service
    // claimed, before the file was admitted (its size checked against the free space).
    out.trans_bitmap = PartBitmap();
    return derived;
}
