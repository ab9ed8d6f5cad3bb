// The engine's task and sub-task records as the front end decodes them for its views.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "tracking/task_view_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view json = InputText(data, size);
    for (const bool asTask : {true, false}) {
        const CTaskViewInfo view = DecodeTaskView(json, asTask);
        FUZZ_CHECK(view.info.sourcePath == view.sourcePath &&
                       view.info.targetPath == view.targetPath,
                   json);
        const CTaskViewInfo copy = view;
        FUZZ_CHECK(copy.progressBits.Count() == view.progressBits.Count(), json);
    }
    return 0;
}
