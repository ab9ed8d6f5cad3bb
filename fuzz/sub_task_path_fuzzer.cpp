// The local path of a sub-task derived from names the service gave: the task's service path
// (first line), its metadata address (second line) and the sub-task's service path (the
// rest). Whatever they hold, the path is inside the task's save folder or it is refused.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "engine/sub_task_fill.h"

namespace {

constexpr std::string_view kSaveFolder = "/save/Reports";

// Inside: the folder itself, or below it through plain segments only.
bool InsideSaveFolder(std::string_view path) {
    if (path == kSaveFolder) {
        return true;
    }
    if (!path.starts_with(kSaveFolder) || path.size() == kSaveFolder.size() ||
        path[kSaveFolder.size()] != '/') {
        return false;
    }
    std::string_view rest = path.substr(kSaveFolder.size() + 1);
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment == "." || segment == ".." || segment.find('\0') != std::string_view::npos) {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(slash + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [taskPath, metaurl, subPath] = SplitFields<3>(data, size);
    const std::string_view input = InputText(data, size);
    CTaskInfo task;
    task.task_id = "TID";
    task.box_file.path = taskPath;
    task.box_file.metaurl = metaurl;
    task.local_file.path = kSaveFolder;
    SubTaskSummary summary;
    summary.path = subPath;
    summary.size = 3;
    CSubTaskInfo out;
    if (FillSubTaskInfo(task, summary, out)) {
        FUZZ_CHECK(InsideSaveFolder(out.local_file.path), input);
    } else {
        FUZZ_CHECK(out.local_file.path == kSaveFolder, input); // refused: the task's own path
    }
    return 0;
}
