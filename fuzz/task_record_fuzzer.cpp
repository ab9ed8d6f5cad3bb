// The stored JSON records of tasks and sub-tasks (and the box-file fields inside them and
// inside the service's item records), read back from a database anyone may have edited.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "engine/box_file_json.h"
#include "engine/task_info.h"
#include "net/service_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view json = InputText(data, size);

    CTaskInfo task;
    task.task_id = "BEFORE";
    const CTaskInfo taskBefore = task;
    if (task.FromJson(json)) {
        // What was read is written so that it reads again; a task without a state is written
        // as its id and state only.
        CTaskInfo again;
        FUZZ_CHECK(task.state == kStateNone || again.FromJson(task.ToJson()), json);
    } else {
        FUZZ_CHECK(task == taskBefore, json); // a failed read leaves the record as it was
    }

    CSubTaskInfo sub;
    sub.sub_task_path = "/before";
    const CSubTaskInfo subBefore = sub;
    if (sub.FromJson(json)) {
        // The written form is stable: reading it and writing again gives the same text.
        const std::string written = sub.ToJson();
        CSubTaskInfo again;
        FUZZ_CHECK(again.FromJson(written), written);
        FUZZ_CHECK(again.ToJson() == written, written);
    } else {
        FUZZ_CHECK(sub == subBefore, json);
    }

    rapidjson::Document document;
    if (ParseReply(std::string(json), document)) {
        (void)ReadBoxFileFields(document, "remaincounturl");
        (void)ReadBoxFileFields(document, "remain_download");
    }
    return 0;
}
