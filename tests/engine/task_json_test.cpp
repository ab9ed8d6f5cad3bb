#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/task_info.h"
#include "record_print.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CTaskInfo SampleTask() {
    CTaskInfo task;
    task.task_id = "T1";
    task.state = kStateWaiting;
    task.is_folder = true;
    task.add_time = 1700000000000;
    task.priority = 3;
    task.size = 2097153;
    task.sub_task_count = 4;
    task.error_code = 20107;
    task.error_info = "limit";
    task.reported_bytes = 1048576;
    task.complete_bytes = 7; // not written: the JSON carries the reported bytes
    task.used_time = 1500;
    task.complete_sub_task_count = 2;
    task.task_data_server = "https://d.example";
    task.data_server = "ignored";
    task.group_id = "G";
    task.box_file = {"/a", "ent", "n1", "p1", "f", "r", "", "", 99};
    task.local_file = {"/home/u/a", 5, "t"};
    return task;
}

CSubTaskInfo SampleFileSubTask() {
    CSubTaskInfo sub;
    sub.state = kStateWorking;
    sub.size = 1048577;
    sub.add_time = 5;
    sub.part_size = {1, -2};
    sub.box_file = {"/a/b.txt", "ent", "", "", "", "fm", "m", "c", 1048577};
    sub.local_file = {"/home/u/a/b.txt", 1048577, ""};
    sub.trans_bitmap.FromText("01");
    sub.hash_bitmap.FromText("1");
    return sub;
}

TEST(TaskJson, StateNoneWritesOnlyIdAndState) {
    CTaskInfo task = SampleTask();
    task.state = kStateNone;
    EXPECT_EQ(task.ToJson(), R"({"task_id":"T1","state":"StateNone"})");
}

TEST(TaskJson, TaskTextByteForByte) {
    EXPECT_EQ(
        SampleTask().ToJson(),
        R"({"task_id":"T1","state":"StateWaiting","is_folder":true,"add_time":1700000000000,)"
        R"("priority":3,"size":2097153,"sub_task_count":4,"is_upload":false,"error_code":20107,)"
        R"("error_info":"limit","complete_bytes":1048576,"send_bytes":0,"used_time":1500,)"
        R"("complete_sub_task_count":2,"transmethod":1,"rsyncstate":1,"is_sectrans":false,)"
        R"("data_server":"https://d.example","speed":0,"group_id":"G","box_file":{"path":"/a",)"
        R"("pathtype":"ent","neid":"n1","prefixneid":"p1","from":"f","rev":"r"},)"
        R"("local_file":{"path":"/home/u/a"}})");
}

TEST(TaskJson, OptionalTaskKeysAppearWhenSet) {
    CTaskInfo task = SampleTask();
    task.new_box_path = "/moved";
    task.box_file.metaurl = "https://s/v2/delivery/metadata/CODE";
    task.box_file.remaincounturl = "https://s/remain";
    task.pass = "secret";
    const std::string json = task.ToJson();
    EXPECT_NE(json.find(R"("data_server":"https://d.example","new_box_path":"/moved","speed":0,)"),
              std::string::npos);
    EXPECT_NE(json.find(R"("rev":"r","metaurl":"https://s/v2/delivery/metadata/CODE",)"
                        R"("remaincounturl":"https://s/remain"},"local_file":{"path":"/home/u/a"},)"
                        R"("pass":")"),
              std::string::npos);
    EXPECT_EQ(json.find("secret"), std::string::npos) << "the password is stored protected";

    CTaskInfo read;
    ASSERT_TRUE(read.FromJson(json));
    EXPECT_EQ(read.pass, "secret");
    EXPECT_EQ(read.new_box_path, "/moved");
    EXPECT_EQ(read.box_file.metaurl, task.box_file.metaurl);
}

TEST(TaskJson, SpeedComesFromTheMeter) {
    SetEngineClockForTesting(1'000'000);
    GetEngineContext().speedMeter.RecordSample("T1", 999'000, 1'000'000);
    EXPECT_NE(SampleTask().ToJson().find(R"("speed":200000,)"), std::string::npos);
    SetEngineClockForTesting(std::nullopt);
}

TEST(TaskJson, SubTaskTextsByteForByte) {
    EXPECT_EQ(SampleFileSubTask().ToJson(),
              R"({"state":"StateWorking","is_upload":false,"is_folder":false,"error_code":0,)"
              R"("error_info":"","complete_bytes":1,"transmethod":1,"rsyncstate":1,)"
              R"("is_sectrans":false,"data_server":"","add_time":5,"size":1048577,)"
              R"("box_file":{"path":"/a/b.txt","pathtype":"ent","neid":"","prefixneid":"",)"
              R"("from":"","rev":"fm","metaurl":"m","remaincounturl":"c","size":1048577},)"
              R"("local_file":{"path":"/home/u/a/b.txt","time":"","size":1048577},)"
              R"("part_size":[1,-2],"trans_progress":"01","hash_progress":"1"})");

    CSubTaskInfo folder;
    folder.state = kStateCompleted;
    folder.is_folder = true;
    folder.box_file.path = "/a/b";
    folder.box_file.size = 12;
    folder.local_file = {"/home/u/a/b", 12, ""};
    EXPECT_EQ(folder.ToJson(),
              R"({"state":"StateCompleted","is_upload":false,"is_folder":true,"error_code":0,)"
              R"("error_info":"","complete_bytes":0,"transmethod":1,"rsyncstate":1,)"
              R"("is_sectrans":false,"data_server":"","add_time":0,"size":0,)"
              R"("box_file":{"path":"/a/b","pathtype":"","neid":"","prefixneid":"","from":"",)"
              R"("rev":"","metaurl":"","remaincounturl":""},)"
              R"("local_file":{"path":"/home/u/a/b","time":""},)"
              R"("part_size":[],"trans_progress":"","hash_progress":""})");
}

TEST(TaskJson, EscapesQuotesBackslashesAndControlCharacters) {
    struct Case {
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"a\"b", R"(a\"b)"},
        {"a\\b", R"(a\\b)"},
        {"\b\t\n\f\r", R"(\b\t\n\f\r)"},
        {std::string("\x00\x01\x1f", 3), R"(\u0000\u0001\u001F)"},
        {"/\x7f中", "/\x7f中"},
        {"\xff\xfe", "\xff\xfe"}, // invalid UTF-8 is kept as it is, never a crash
    };
    for (const Case& c : cases) {
        CSubTaskInfo sub;
        sub.error_info = c.text;
        const std::string json = sub.ToJson();
        EXPECT_NE(json.find("\"error_info\":\"" + c.escaped + "\","), std::string::npos) << json;
        CSubTaskInfo read;
        ASSERT_TRUE(read.FromJson(json)) << json;
        EXPECT_EQ(read.error_info, c.text);
    }
}

TEST(TaskJson, TaskRoundTrip) {
    CTaskInfo task = SampleTask();
    task.state = kStatePaused;
    task.transmethod = 4;
    task.rsyncstate = 3;
    task.is_sectrans = true;
    task.part_size = {9}; // not part of the task's text
    CTaskInfo read;
    ASSERT_TRUE(read.FromJson(task.ToJson()));
    EXPECT_EQ(read.task_id, "T1");
    EXPECT_EQ(read.state, kStatePaused);
    EXPECT_TRUE(read.is_folder);
    EXPECT_EQ(read.add_time, 1700000000000u);
    EXPECT_EQ(read.priority, 3);
    EXPECT_EQ(read.size, 2097153u);
    EXPECT_EQ(read.error_code, 20107);
    EXPECT_EQ(read.complete_bytes, 1048576u) << "the written progress is read as completed bytes";
    EXPECT_EQ(read.reported_bytes, 0u);
    EXPECT_EQ(read.transmethod, 4);
    EXPECT_EQ(read.rsyncstate, 3);
    EXPECT_TRUE(read.is_sectrans);
    EXPECT_EQ(read.task_data_server, "https://d.example");
    EXPECT_EQ(read.group_id, "") << "the group is not read back";
    EXPECT_EQ(read.box_file.neid, "n1");
    EXPECT_EQ(read.local_file.path, "/home/u/a");
}

TEST(TaskJson, SubTaskRoundTripKeepsEveryStoredField) {
    const CSubTaskInfo sub = SampleFileSubTask();
    CSubTaskInfo read;
    ASSERT_TRUE(read.FromJson(sub.ToJson()));
    // State and size live in their own columns, not in the text.
    read.state = sub.state;
    read.size = sub.size;
    EXPECT_EQ(read, sub);
}

// A file's validator: written after the progress only when known, so records of files without
// one keep their text; a stored one that could not be sent back in a header is none.
TEST(TaskJson, TheFileValidatorIsKeptOnlyWhenItCanBeSentBack) {
    CSubTaskInfo sub = SampleFileSubTask();
    sub.validator = "\"v1\"";
    const std::string json = sub.ToJson();
    EXPECT_TRUE(json.ends_with(R"("hash_progress":"1","validator":"\"v1\""})")) << json;
    CSubTaskInfo read;
    ASSERT_TRUE(read.FromJson(json));
    EXPECT_EQ(read.validator, sub.validator);

    const std::string record = R"({"part_size":[],"box_file":{},"local_file":{})";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {R"(,"validator":"Wed, 01 May 2024 02:20:30 GMT")", "Wed, 01 May 2024 02:20:30 GMT"},
        {R"(,"validator":")" + std::string(1025, 'a') + "\"", ""},
        {R"(,"validator":"a\u0001b")", ""},
        {R"(,"validator":"a\nb")", ""},
    };
    for (const auto& [member, validator] : cases) {
        CSubTaskInfo stored;
        stored.validator = "left over";
        ASSERT_TRUE(stored.FromJson(record + member + "}")) << member;
        EXPECT_EQ(stored.validator, validator) << member;
    }
}

TEST(TaskJson, FailedReadLeavesTaskUnchanged) {
    const char* inputs[] = {
        "",
        "not json",
        "[]",
        R"("text")",
        R"({"task_id":"X","state":"StateWorking"})",
        R"({"task_id":"X","box_file":{}})",
        R"({"task_id":"X","box_file":[],"local_file":{}})",
        R"({"task_id":"X","box_file":{},"local_file":"path"})",
        R"({"task_id":"X","box_file":{},"local_file":{}} trailing)",
        R"({"size":1e400,"box_file":{},"local_file":{}})",
        R"({"task_id":"X)",
    };
    for (const char* input : inputs) {
        CTaskInfo task = SampleTask();
        task.pass = "secret";
        task.retry_time = 77;
        const CTaskInfo before = task;
        EXPECT_FALSE(task.FromJson(input)) << input;
        EXPECT_EQ(task, before) << input;
    }
}

TEST(TaskJson, FailedReadLeavesSubTaskUnchanged) {
    const std::string inputs[] = {
        R"({"error_info":"x","box_file":{},"local_file":{}})",
        R"({"error_info":"x","part_size":{},"box_file":{},"local_file":{}})",
        R"({"error_info":"x","part_size":[],"local_file":{}})",
        R"({"error_info":"x","part_size":[],"box_file":{}})",
        std::string(R"({"error_info":"a)") + '\0' +
            R"(b","part_size":[],"box_file":{},"local_file":{}})",
    };
    for (const std::string& input : inputs) {
        CSubTaskInfo sub = SampleFileSubTask();
        const CSubTaskInfo before = sub;
        EXPECT_FALSE(sub.FromJson(input)) << input;
        EXPECT_EQ(sub, before) << input;
    }
}

TEST(TaskJson, LenientReaders) {
    struct Case {
        const char* members;
        void (*check)(const CTaskInfo&);
    };
    const Case cases[] = {
        {R"("priority":"7")", [](const CTaskInfo& t) { EXPECT_EQ(t.priority, 7); }},
        {R"("task_id":123)", [](const CTaskInfo& t) { EXPECT_EQ(t.task_id, "123"); }},
        {R"("is_folder":1)", [](const CTaskInfo& t) { EXPECT_FALSE(t.is_folder); }},
        {R"("is_folder":"true")", [](const CTaskInfo& t) { EXPECT_FALSE(t.is_folder); }},
        {R"("size":-5)", [](const CTaskInfo& t) { EXPECT_EQ(t.size, 0u); }},
        {R"("size":"12x")", [](const CTaskInfo& t) { EXPECT_EQ(t.size, 0u); }},
        {R"("size":1.5)", [](const CTaskInfo& t) { EXPECT_EQ(t.size, 0u); }},
        {R"("size":18446744073709551615)",
         [](const CTaskInfo& t) { EXPECT_EQ(t.size, 18446744073709551615u); }},
        {R"("size":18446744073709551616)", [](const CTaskInfo& t) { EXPECT_EQ(t.size, 0u); }},
        {R"("size":"99999999999999999999999")", [](const CTaskInfo& t) { EXPECT_EQ(t.size, 0u); }},
        {R"("sub_task_count":4294967296)",
         [](const CTaskInfo& t) { EXPECT_EQ(t.sub_task_count, 0u); }},
        {R"("error_code":4294967295)", [](const CTaskInfo& t) { EXPECT_EQ(t.error_code, -1); }},
        {R"("error_code":"-3")", [](const CTaskInfo& t) { EXPECT_EQ(t.error_code, -3); }},
        {R"("state":"Error happened")",
         [](const CTaskInfo& t) { EXPECT_EQ(t.state, kStateError); }},
        {R"("state":"Unknown")", [](const CTaskInfo& t) { EXPECT_EQ(t.state, kStateNone); }},
        {R"("error_info":null)", [](const CTaskInfo& t) { EXPECT_EQ(t.error_info, ""); }},
        {R"("a":1)",
         [](const CTaskInfo& t) {
             EXPECT_EQ(t.transmethod, 2) << "an absent transmethod reads as 2";
             EXPECT_EQ(t.rsyncstate, 1);
         }},
        {R"("transmethod":"3")", [](const CTaskInfo& t) { EXPECT_EQ(t.transmethod, 3); }},
        {R"("transmethod":"x")", [](const CTaskInfo& t) { EXPECT_EQ(t.transmethod, 0); }},
        {R"("pass":"c2VjcmV0")",
         [](const CTaskInfo& t) { EXPECT_EQ(t.pass, "secret") << "unprotected values read back"; }},
        {R"("pass":"***")", [](const CTaskInfo& t) { EXPECT_EQ(t.pass, ""); }},
        {R"("box_file":{"size":"42","path":7},"local_file":{"size":3,"time":"t"})",
         [](const CTaskInfo& t) {
             EXPECT_EQ(t.box_file.size, 42u);
             EXPECT_EQ(t.box_file.path, "7");
             EXPECT_EQ(t.local_file.size, 3u);
             EXPECT_EQ(t.local_file.time, "t");
         }},
    };
    for (const Case& c : cases) {
        std::string json = std::string("{") + c.members;
        if (json.find("box_file") == std::string::npos) {
            json += R"(,"box_file":{},"local_file":{})";
        }
        json += "}";
        CTaskInfo task;
        ASSERT_TRUE(task.FromJson(json)) << json;
        SCOPED_TRACE(json);
        c.check(task);
    }
}

TEST(TaskJson, SubTaskDefaultsAndPartSizeElements) {
    CSubTaskInfo sub;
    ASSERT_TRUE(sub.FromJson(
        R"({"part_size":[4,"x",-1,4294967296],"trans_progress":"0a0","box_file":{},"local_file":{}})"));
    EXPECT_EQ(sub.transmethod, 2);
    EXPECT_EQ(sub.rsyncstate, 1);
    EXPECT_EQ(sub.part_size, (std::vector<std::int32_t>{4, 0, -1, 0}));
    EXPECT_EQ(sub.trans_bitmap.ToText(), "010");
}

TEST(TaskJson, EnteringWorkingByReadResetsReportedBytes) {
    const std::string working = R"({"state":"StateWorking","box_file":{},"local_file":{}})";
    CTaskInfo paused;
    paused.state = kStatePaused;
    paused.reported_bytes = 500;
    ASSERT_TRUE(paused.FromJson(working));
    EXPECT_EQ(paused.reported_bytes, 0u);

    CTaskInfo running;
    running.state = kStateWorking;
    running.reported_bytes = 500;
    ASSERT_TRUE(running.FromJson(working));
    EXPECT_EQ(running.reported_bytes, 500u);
}

} // namespace
