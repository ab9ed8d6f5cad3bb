#include "engine/task_info.h"
#include "tracking/task_view_info.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A download folder task as the engine writes it, every field away from its initial value.
CTaskInfo EngineTask() {
    CTaskInfo task;
    task.task_id = "7A1F";
    task.group_id = "DD";
    task.state = kStateWorking;
    task.is_folder = true;
    task.add_time = 1700000000123;
    task.size = 5'000'000'000; // beyond 32 bits
    task.sub_task_count = 7;
    task.complete_sub_task_count = 3;
    task.reported_bytes = 4'300'000'000;
    task.used_time = 4567;
    task.error_code = 20004;
    task.error_info = "链接已失效";
    task.transmethod = 3;
    task.rsyncstate = 2;
    task.is_sectrans = true;
    task.new_box_path = "/moved/Root";
    task.box_file.path = "http://svc.test/v2/delivery/download/Ab12/Root";
    task.box_file.pathtype = "share_in";
    task.box_file.from = "delivery";
    task.local_file.path = "/home/u/下载/Root";
    return task;
}

void ExpectInitial(const CTaskViewInfo& view) {
    EXPECT_TRUE(view.isDownload);
    EXPECT_FALSE(view.isFolder);
    EXPECT_EQ(view.viewState, view_state::kNone);
    EXPECT_EQ(view.uploadValue, 1);
    EXPECT_EQ(view.pathType, 2);
    EXPECT_EQ(view.transferMethod, 1);
    EXPECT_EQ(view.syncState, 1);
    EXPECT_TRUE(view.taskId.isEmpty());
    EXPECT_TRUE(view.sourcePath.isEmpty());
    EXPECT_EQ(view.size, 0u);
}

TEST(DecodeTaskView, ReadsEveryFieldOfTheEnginesTaskText) {
    const CTaskViewInfo view = DecodeTaskView(EngineTask().ToJson(), true);

    EXPECT_TRUE(view.isDownload);
    EXPECT_TRUE(view.isFolder);
    EXPECT_EQ(view.taskId, "7A1F");
    EXPECT_EQ(view.groupId, "DD");
    EXPECT_EQ(view.viewState, view_state::kWorking);
    EXPECT_EQ(view.addTime, 1700000000123u);
    EXPECT_EQ(view.size, 5'000'000'000u);
    EXPECT_EQ(view.subTasks, 7u);
    EXPECT_EQ(view.completedSubTasks, 3u);
    EXPECT_EQ(view.completedBytes, 4'300'000'000u);
    EXPECT_EQ(view.usedTime, 4567u);
    EXPECT_EQ(view.errorCode, 20004);
    EXPECT_EQ(view.errorText, QString::fromUtf8("链接已失效"));
    EXPECT_EQ(view.transferMethod, 3);
    EXPECT_EQ(view.syncState, 2);
    EXPECT_TRUE(view.isSecureTransfer);
    EXPECT_EQ(view.newServicePath, "/moved/Root");
    EXPECT_EQ(view.pathType, 4);
    EXPECT_EQ(view.origin, "delivery");
    // A download reads from the service and writes the local path.
    EXPECT_EQ(view.sourcePath, "http://svc.test/v2/delivery/download/Ab12/Root");
    EXPECT_EQ(view.targetPath, QString::fromUtf8("/home/u/下载/Root"));
    EXPECT_EQ(view.info.sourcePath, view.sourcePath);
    EXPECT_EQ(view.info.targetPath, view.targetPath);
    // "is_upload" is a JSON boolean, which is no number.
    EXPECT_EQ(view.uploadValue, 0);
    EXPECT_EQ(view.speed, view.speedCopy);
    EXPECT_TRUE(view.progressBits.IsEmpty());
}

TEST(DecodeTaskView, ASubTaskLeavesTheTaskOnlyFieldsAlone) {
    const CTaskViewInfo fromTaskText = DecodeTaskView(EngineTask().ToJson(), false);
    EXPECT_EQ(fromTaskText.usedTime, 0u);
    EXPECT_EQ(fromTaskText.completedSubTasks, 0u);
    EXPECT_EQ(fromTaskText.subTasks, 0u);
    EXPECT_TRUE(fromTaskText.newServicePath.isEmpty());
    EXPECT_EQ(fromTaskText.size, 5'000'000'000u);

    CSubTaskInfo sub;
    sub.state = kStateCompleted;
    sub.size = 3000;
    sub.add_time = 99;
    sub.box_file.path = "http://svc.test/v2/delivery/download/Ab12/Root/a.jpg";
    sub.box_file.pathtype = "ent";
    sub.local_file.path = "/save/Root/a.jpg";
    const CTaskViewInfo view = DecodeTaskView(sub.ToJson(), false);
    EXPECT_EQ(view.viewState, view_state::kCompleted);
    EXPECT_EQ(view.size, 3000u);
    EXPECT_EQ(view.addTime, 99u);
    EXPECT_EQ(view.completedBytes, sub.CompleteBytes());
    EXPECT_EQ(view.pathType, 1);
    EXPECT_EQ(view.targetPath, "/save/Root/a.jpg");
    EXPECT_EQ(view.info.targetPath, "/save/Root/a.jpg");
    EXPECT_EQ(view.sourcePath, "http://svc.test/v2/delivery/download/Ab12/Root/a.jpg");
}

TEST(DecodeTaskView, ReadsUploadsNumbersAsStringsAndAbsentDefaults) {
    const CTaskViewInfo view = DecodeTaskView(
        R"({"is_upload": true, "state": "StatePaused", "size": "42", "speed": "1000",
            "complete_bytes": 7, "error_code": "-5", "add_time": "12x",
            "box_file": {"path": "/box/a.txt", "pathtype": "ent", "from": "self"},
            "local_file": {"path": "/home/a.txt"}})",
        true);
    EXPECT_FALSE(view.isDownload);
    // An upload reads the local file and writes the service path.
    EXPECT_EQ(view.sourcePath, "/home/a.txt");
    EXPECT_EQ(view.targetPath, "/box/a.txt");
    EXPECT_EQ(view.info.sourcePath, "/home/a.txt");
    EXPECT_EQ(view.viewState, view_state::kPaused);
    EXPECT_EQ(view.size, 42u);
    EXPECT_EQ(view.speed, 1000u);
    EXPECT_EQ(view.speedCopy, 1000u);
    EXPECT_EQ(view.completedBytes, 7u);
    EXPECT_EQ(view.errorCode, -5);
    EXPECT_EQ(view.addTime, 0u); // not a decimal number
    EXPECT_EQ(view.transferMethod, 2);
    EXPECT_EQ(view.syncState, 1);

    const CTaskViewInfo notObjects =
        DecodeTaskView(R"({"state": "StateError", "box_file": "/a", "local_file": 5})", true);
    EXPECT_EQ(notObjects.viewState, view_state::kError);
    EXPECT_TRUE(notObjects.sourcePath.isEmpty());
    EXPECT_TRUE(notObjects.targetPath.isEmpty());
    EXPECT_EQ(notObjects.pathType, 2);
}

TEST(DecodeTaskView, ATextThatIsNoObjectGivesTheInitialValues) {
    for (const char* text : {"", "not json", "[1, 2]", "\"StateWorking\"", R"({"state": )"}) {
        SCOPED_TRACE(text);
        ExpectInitial(DecodeTaskView(text, true));
    }
}

TEST(DecodeTaskView, MapsEveryEngineStateToItsViewState) {
    const struct {
        std::uint32_t state;
        int view;
    } cases[] = {
        {kStateWaitPreparing, view_state::kPreparing},
        {kStatePreparing, view_state::kPreparing},
        {kStateWorking, view_state::kWorking},
        {kStateWaiting, view_state::kWorking},
        {kStateCompleted, view_state::kCompleted},
        {kStateError, view_state::kError},
        {kStatePaused, view_state::kPaused},
        {kStateNone, view_state::kAbsent},
        {kStateStop, view_state::kError},
    };
    for (const auto& c : cases) {
        CTaskInfo task = EngineTask();
        task.state = c.state;
        const std::string json = task.ToJson();
        SCOPED_TRACE(json);
        EXPECT_EQ(DecodeTaskView(json, true).viewState, c.view);
    }
    EXPECT_EQ(DecodeTaskView(R"({"state": "StateUnheard"})", true).viewState, view_state::kError);
    EXPECT_EQ(DecodeTaskView(R"({"state": ""})", true).viewState, view_state::kError);
    EXPECT_EQ(DecodeTaskView(R"({"task_id": "X"})", true).viewState, view_state::kNone);
}

TEST(PathTypeFromName, MapsTheStorageAreas) {
    const struct {
        const char* name;
        int number;
    } cases[] = {{"ent", 1}, {"self", 2}, {"share_in", 4}, {"share_out", 8}, {"", 2}, {"ENT", 2}};
    for (const auto& c : cases) {
        EXPECT_EQ(PathTypeFromName(c.name), c.number) << c.name;
    }
}

TEST(CParvexBitArray, TravelsWithItsRecordAsADeepCopy) {
    CTaskViewInfo original;
    original.progressBits.SetBytes({0x01, 0xFF, 0x00, 0x00});
    EXPECT_EQ(original.progressBits.Bytes().size(), 2u); // trailing zero bytes dropped
    EXPECT_EQ(original.progressBits.Count(), 9);

    CTaskViewInfo copied = original;
    CTaskViewInfo assigned;
    assigned = original;
    original.progressBits.SetBytes({0x03});
    EXPECT_EQ(original.progressBits.Count(), 2);
    for (const CTaskViewInfo* copy : {&copied, &assigned}) {
        EXPECT_EQ(copy->progressBits.Bytes(), (std::vector<std::uint8_t>{0x01, 0xFF}));
        EXPECT_EQ(copy->progressBits.Count(), 9);
        EXPECT_TRUE(copy->progressBits.IsValid());
    }
    const CTaskViewInfo& same = assigned;
    assigned = same; // self-assignment keeps the bits
    EXPECT_EQ(assigned.progressBits.Count(), 9);

    original.progressBits.SetBytes({0x00});
    EXPECT_TRUE(original.progressBits.IsEmpty());
    EXPECT_EQ(original.progressBits.Count(), 0);
}

} // namespace
