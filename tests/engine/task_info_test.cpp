#include "engine/engine_clock.h"
#include "engine/part_layout.h"
#include "engine/task_info.h"
#include "record_print.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TaskState, NamesAndParsingOrder) {
    struct Case {
        std::string text;
        std::uint32_t state;
    };
    const Case cases[] = {
        {"StateWaitPreparing", kStateWaitPreparing},
        {"WaitPreparing", kStateWaitPreparing},
        {"StatePreparing", kStatePreparing},
        {"StateWorking", kStateWorking},
        {"StatePaused", kStatePaused},
        {"StateWaiting", kStateWaiting},
        {"xxWaitingxx", kStateWaiting},
        {"StateError", kStateError},
        {"StateCompleted", kStateCompleted},
        {"StateStop", kStateStop},
        {"Stop Preparing", kStatePreparing}, // the search order decides, not the position
        {"StateNone", kStateNone},
        {"stateworking", kStateNone},
        {"", kStateNone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseTaskState(c.text), c.state) << c.text;
    }
    for (std::uint32_t state : {1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u}) {
        EXPECT_EQ(ParseTaskState(TaskStateName(state)), state);
    }
    EXPECT_EQ(TaskStateName(kStateNone), "StateNone");
    EXPECT_EQ(TaskStateName(3), "");
    EXPECT_EQ(TaskStateName(256), "");
}

TEST(PartBitmap, TextFormRoundTripsAndReadsAnyLength) {
    PartBitmap bits;
    bits.Resize(3);
    bits.Set(1);
    EXPECT_EQ(bits.ToText(), "010");

    const std::string texts[] = {
        "", "1", "0a0", std::string(33, '1'), std::string(64, '0') + "1", std::string(100000, 'x')};
    for (const std::string& text : texts) {
        PartBitmap read;
        read.FromText(text);
        EXPECT_EQ(read.BitCount(), text.size());
        std::string expected = text;
        for (char& ch : expected) {
            ch = ch == '0' ? '0' : '1';
        }
        EXPECT_EQ(read.ToText(), expected);
    }
}

TEST(PartBitmap, GrowShrinkAndSetOperations) {
    PartBitmap bits;
    EXPECT_FALSE(bits.Test(100)) << "a bit past the end reads clear";
    bits.Set(40);
    EXPECT_EQ(bits.BitCount(), 41u);
    bits.Clear(500);
    EXPECT_EQ(bits.BitCount(), 41u) << "clearing past the end does not grow";
    bits.Set(35);
    bits.Resize(36); // drops bit 40 and must clear it in the word
    EXPECT_EQ(bits.CountSet(), 1u);
    bits.Resize(64);
    EXPECT_FALSE(bits.Test(40)) << "shrinking cleared the unused high bits";

    PartBitmap a;
    a.FromText("1100");
    PartBitmap b;
    b.FromText("010011");
    PartBitmap u = a;
    u.Union(b);
    EXPECT_EQ(u.ToText(), "110011");
    PartBitmap d = a;
    d.Difference(b);
    EXPECT_EQ(d.ToText(), "1000");
    EXPECT_TRUE(d.Any());
    d.Difference(a);
    EXPECT_FALSE(d.Any());
}

TEST(PartLayout, CompleteBytesAtPartBoundaries) {
    struct Case {
        std::uint64_t size;
        std::string bits;
        std::uint64_t complete;
        bool allParts;
    };
    const Case cases[] = {
        {0, "", 0, true},
        {1, "0", 0, false},
        {1, "1", 1, true},
        {1048576, "1", 1048576, true},
        {1048577, "10", 1048576, false},
        {1048577, "01", 1, false},
        {1048577, "11", 1048577, true},
        {2097152, "11", 2097152, true},
        {2097152, "10", 1048576, false},
        {2097152, "1", 1048576, false},   // too short a bitmap is not complete
        {2097152, "111", 2097152, false}, // bits past the file's parts never count
    };
    for (const Case& c : cases) {
        PartBitmap bits;
        bits.FromText(c.bits);
        EXPECT_EQ(CompleteBytes(bits, c.size, kDownloadPartSize), c.complete)
            << c.size << " " << c.bits;
        EXPECT_EQ(HasAllParts(bits, c.size, kDownloadPartSize), c.allParts)
            << c.size << " " << c.bits;
    }
    EXPECT_EQ(PartCount(1048577, kDownloadPartSize), 2u);
    EXPECT_EQ(PartCount(4194305, kUploadPartSize), 2u);
    EXPECT_FALSE(HasAllParts(PartBitmap(), 0, 0));

    CSubTaskInfo upload;
    upload.is_upload = true;
    upload.size = 4194305;
    upload.trans_bitmap.FromText("11");
    EXPECT_EQ(upload.CompleteBytes(), 4194305u);
}

TEST(TaskInfo, TaskIdOfKnownInput) {
    CTaskInfo task;
    task.box_file.pathtype = "ent";
    task.box_file.path = "/docs/a.txt";
    task.add_time = 1700000000000;
    EXPECT_EQ(task.MakeTaskId(), "07B70086662D9768D7DA53D2E7CDAACE");
    task.box_file.path = "/资料/报告.pdf";
    task.add_time = 1700000000123;
    EXPECT_EQ(task.MakeTaskId(), "7A7E070793E54FF1DCD9DA39B2EEA7B4");
}

TEST(TaskInfo, MakeTaskInfo) {
    SetEngineClockForTesting(1700000000000);
    BoxFileInfo box;
    box.pathtype = "ent";
    box.path = "/docs/a.txt";
    box.size = 10;
    const CTaskInfo task = MakeTaskInfo(box, "/home/u/a.txt");
    EXPECT_EQ(task.box_file, box);
    EXPECT_EQ(task.local_file, (LocalFileInfo{"/home/u/a.txt", 0, ""}));
    EXPECT_EQ(task.add_time, 1700000000000u);
    EXPECT_EQ(task.task_id, "07B70086662D9768D7DA53D2E7CDAACE");
    EXPECT_EQ(task.state, kStateWaitPreparing);
    SetEngineClockForTesting(std::nullopt);

    struct Case {
        std::string boxPath;
        std::string local;
    };
    const Case cases[] = {
        {"https://s/x/?source_path=/d/a.docx", "/home/u/a.docx.eod"},
        {"https://s/GetWatermarkFile?url=abc", "/home/u/a.docx.pdf"},
        {"https://s/x/?source_path=/d/GetWatermarkFile?url", "/home/u/a.docx.eod"},
        {"https://s/x/a.docx", "/home/u/a.docx"},
    };
    for (const Case& c : cases) {
        box.path = c.boxPath;
        EXPECT_EQ(MakeTaskInfo(box, "/home/u/a.docx").local_file.path, c.local) << c.boxPath;
    }
}

std::uint64_t FakeInFlight(const std::string& taskId) {
    return taskId == "T" ? 300 : 0;
}

TEST(TaskInfo, ReportedBytesNeverGoBackWhileWorking) {
    CTaskInfo task;
    task.task_id = "T";
    task.complete_bytes = 1000;
    EXPECT_EQ(task.UpdateReportedBytes(), 1000u) << "nothing in flight without a network layer";
    SetInFlightBytesSource(&FakeInFlight);
    EXPECT_EQ(task.UpdateReportedBytes(), 1300u);
    task.complete_bytes = 500; // a part was dropped for a retry
    EXPECT_EQ(task.UpdateReportedBytes(), 1300u);

    task.SetState(kStateWorking);
    EXPECT_EQ(task.reported_bytes, 0u) << "entering Working starts again from 0";
    EXPECT_EQ(task.UpdateReportedBytes(), 800u);
    task.SetState(kStateWorking);
    EXPECT_EQ(task.reported_bytes, 800u) << "staying in Working keeps the progress";
    SetInFlightBytesSource(nullptr);
}

TEST(TaskInfo, ResetClearsRunFieldsButKeepsLinkAddresses) {
    CTaskInfo task;
    task.task_id = "T";
    task.state = kStateError;
    task.is_folder = true;
    task.error_code = 5;
    task.error_info = "e";
    task.box_file = {"/p", "ent", "n", "pn", "f", "r", "meta", "remain", 9};
    task.local_file = {"/l", 1, "t"};
    task.complete_bytes = task.send_bytes = task.used_time = task.reported_bytes = 4;
    task.add_time = 8;
    task.priority = 2;
    task.sub_task_count = task.complete_sub_task_count = 3;
    task.group_id = "G";
    task.pass = "pw";
    task.Reset();

    CTaskInfo expected;
    expected.box_file.metaurl = "meta";
    expected.box_file.remaincounturl = "remain";
    expected.group_id = "G";
    expected.pass = "pw";
    EXPECT_EQ(task, expected);

    CSubTaskInfo sub;
    sub.hash_bitmap.FromText("11");
    sub.trans_bitmap.FromText("1");
    sub.error_info = "kept";
    sub.Reset();
    EXPECT_EQ(sub.hash_bitmap.BitCount(), 0u);
    EXPECT_EQ(sub.trans_bitmap.BitCount(), 1u);
    EXPECT_EQ(sub.error_info, "kept");
}

} // namespace
