// The JSON texts of the task and sub-task records: how they are stored and handed to the front
// end. Key order and escaping are part of the stored format.
#include "engine/box_file_json.h"
#include "engine/engine_context.h"
#include "engine/file_validator.h"
#include "engine/json_fields.h"
#include "engine/json_text.h"
#include "engine/protect_text.h"
#include "engine/task_info.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <limits>

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;
using namespace json_fields;

void Key(JsonWriter& writer, const char* key) {
    writer.Key(key);
}

void Text(JsonWriter& writer, const char* key, const std::string& value) {
    writer.Key(key);
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void Uint64(JsonWriter& writer, const char* key, std::uint64_t value) {
    writer.Key(key);
    writer.Uint64(value);
}

void Uint32(JsonWriter& writer, const char* key, std::uint32_t value) {
    writer.Key(key);
    writer.Uint(value);
}

void Int32(JsonWriter& writer, const char* key, std::int32_t value) {
    writer.Key(key);
    writer.Int(value);
}

void Bool(JsonWriter& writer, const char* key, bool value) {
    writer.Key(key);
    writer.Bool(value);
}

void StateName(JsonWriter& writer, std::uint32_t state) {
    const std::string_view name = TaskStateName(state);
    writer.Key("state");
    writer.String(name.data(), static_cast<rapidjson::SizeType>(name.size()));
}

std::string Finish(const rapidjson::StringBuffer& buffer) {
    return std::string(buffer.GetString(), buffer.GetSize());
}

// The whole text must parse to an object.
bool ParseObject(std::string_view json, rapidjson::Document& document) {
    return ParseJsonObject(json, document);
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* key) {
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

std::int32_t ReadInt32Or(const rapidjson::Value& object, const char* key, std::int32_t absent) {
    return Has(object, key) ? ReadInt32(object, key) : absent;
}

LocalFileInfo ReadLocalFile(const rapidjson::Value& object) {
    LocalFileInfo local;
    local.path = ReadText(object, "path");
    local.size = ReadUint64(object, "size");
    local.time = ReadText(object, "time");
    return local;
}

// The box_file and local_file objects that both records require.
bool ReadFiles(const rapidjson::Value& root, BoxFileInfo& box, LocalFileInfo& local) {
    const rapidjson::Value* boxValue = Member(root, "box_file");
    if (boxValue == nullptr || !boxValue->IsObject()) {
        return false;
    }
    const rapidjson::Value* localValue = Member(root, "local_file");
    if (localValue == nullptr || !localValue->IsObject()) {
        return false;
    }
    box = ReadBoxFileFields(*boxValue, "remaincounturl");
    local = ReadLocalFile(*localValue);
    return true;
}

// The six box file fields both records always write, in their stored order.
void WriteBoxFileIdentity(JsonWriter& writer, const BoxFileInfo& box) {
    Text(writer, "path", box.path);
    Text(writer, "pathtype", box.pathtype);
    Text(writer, "neid", box.neid);
    Text(writer, "prefixneid", box.prefixneid);
    Text(writer, "from", box.from);
    Text(writer, "rev", box.rev);
}

// Reads into a copy; the record changes only when the whole read succeeded.
template <typename Record, typename Read>
bool ReadAll(Record& record, std::string_view json, Read read) {
    rapidjson::Document document;
    if (!ParseObject(json, document)) {
        return false;
    }
    Record copy = record;
    if (!read(copy, static_cast<const rapidjson::Value&>(document))) {
        return false;
    }
    record = std::move(copy);
    return true;
}

} // namespace

std::string CTaskInfo::ToJson() const {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    Text(writer, "task_id", task_id);
    StateName(writer, state);
    if (state != kStateNone) {
        Bool(writer, "is_folder", is_folder);
        Uint64(writer, "add_time", add_time);
        Uint32(writer, "priority", static_cast<std::uint32_t>(priority));
        Uint64(writer, "size", size);
        Uint32(writer, "sub_task_count", sub_task_count);
        Bool(writer, "is_upload", is_upload);
        Uint32(writer, "error_code", static_cast<std::uint32_t>(error_code));
        Text(writer, "error_info", error_info);
        Uint64(writer, "complete_bytes", reported_bytes);
        Uint64(writer, "send_bytes", send_bytes);
        Uint64(writer, "used_time", used_time);
        Uint32(writer, "complete_sub_task_count", complete_sub_task_count);
        Int32(writer, "transmethod", transmethod);
        Int32(writer, "rsyncstate", rsyncstate);
        Bool(writer, "is_sectrans", is_sectrans);
        Text(writer, "data_server", task_data_server);
        if (!new_box_path.empty()) {
            Text(writer, "new_box_path", new_box_path);
        }
        const std::uint64_t speed = GetEngineContext().speedMeter.GetSpeed(task_id);
        Uint32(writer, "speed",
               static_cast<std::uint32_t>(
                   std::min<std::uint64_t>(speed, std::numeric_limits<std::uint32_t>::max())));
        Text(writer, "group_id", group_id);
        Key(writer, "box_file");
        writer.StartObject();
        WriteBoxFileIdentity(writer, box_file);
        if (!box_file.metaurl.empty()) {
            Text(writer, "metaurl", box_file.metaurl);
        }
        if (!box_file.remaincounturl.empty()) {
            Text(writer, "remaincounturl", box_file.remaincounturl);
        }
        writer.EndObject();
        Key(writer, "local_file");
        writer.StartObject();
        Text(writer, "path", local_file.path);
        writer.EndObject();
        if (!pass.empty()) {
            Text(writer, "pass", ProtectText(pass));
        }
    }
    writer.EndObject();
    return Finish(buffer);
}

bool CTaskInfo::FromJson(std::string_view json) {
    return ReadAll(*this, json, [](CTaskInfo& task, const rapidjson::Value& root) {
        task.task_id = ReadText(root, "task_id");
        task.is_folder = ReadBool(root, "is_folder");
        task.add_time = ReadUint64(root, "add_time");
        task.priority = ReadInt32(root, "priority");
        task.size = ReadUint64(root, "size");
        task.sub_task_count = ReadUint32(root, "sub_task_count");
        task.is_upload = ReadBool(root, "is_upload");
        task.SetState(ParseTaskState(ReadText(root, "state")));
        task.error_code = ReadInt32(root, "error_code");
        task.error_info = ReadText(root, "error_info");
        task.new_box_path = ReadText(root, "new_box_path");
        task.pass = UnprotectText(ReadText(root, "pass"));
        task.is_sectrans = ReadBool(root, "is_sectrans");
        task.task_data_server = ReadText(root, "data_server");
        task.complete_bytes = ReadUint64(root, "complete_bytes");
        task.send_bytes = ReadUint64(root, "send_bytes");
        task.used_time = ReadUint64(root, "used_time");
        task.complete_sub_task_count = ReadUint32(root, "complete_sub_task_count");
        task.transmethod = ReadInt32Or(root, "transmethod", 2);
        task.rsyncstate = ReadInt32Or(root, "rsyncstate", 1);
        return ReadFiles(root, task.box_file, task.local_file);
    });
}

std::string CSubTaskInfo::ToJson() const {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    StateName(writer, state);
    Bool(writer, "is_upload", is_upload);
    Bool(writer, "is_folder", is_folder);
    Uint32(writer, "error_code", static_cast<std::uint32_t>(error_code));
    Text(writer, "error_info", error_info);
    Uint64(writer, "complete_bytes", CompleteBytes());
    Int32(writer, "transmethod", transmethod);
    Int32(writer, "rsyncstate", rsyncstate);
    Bool(writer, "is_sectrans", is_sectrans);
    Text(writer, "data_server", data_server);
    Uint64(writer, "add_time", add_time);
    Uint64(writer, "size", size);
    Key(writer, "box_file");
    writer.StartObject();
    WriteBoxFileIdentity(writer, box_file);
    Text(writer, "metaurl", box_file.metaurl);
    Text(writer, "remaincounturl", box_file.remaincounturl);
    if (!is_folder) {
        Uint64(writer, "size", box_file.size);
    }
    writer.EndObject();
    Key(writer, "local_file");
    writer.StartObject();
    Text(writer, "path", local_file.path);
    Text(writer, "time", local_file.time);
    if (!is_folder) {
        Uint64(writer, "size", local_file.size);
    }
    writer.EndObject();
    Key(writer, "part_size");
    writer.StartArray();
    for (std::int32_t element : part_size) {
        writer.Int(element);
    }
    writer.EndArray();
    Text(writer, "trans_progress", trans_bitmap.ToText());
    Text(writer, "hash_progress", hash_bitmap.ToText());
    // Written only when known, so the records of files without one stay as they were.
    if (!validator.empty()) {
        Text(writer, "validator", validator);
    }
    writer.EndObject();
    return Finish(buffer);
}

bool CSubTaskInfo::FromJson(std::string_view json) {
    return ReadAll(*this, json, [](CSubTaskInfo& sub, const rapidjson::Value& root) {
        sub.is_upload = ReadBool(root, "is_upload");
        sub.is_folder = ReadBool(root, "is_folder");
        sub.error_code = ReadInt32(root, "error_code");
        sub.error_info = ReadText(root, "error_info");
        sub.is_sectrans = ReadBool(root, "is_sectrans");
        sub.data_server = ReadText(root, "data_server");
        sub.add_time = ReadUint64(root, "add_time");
        sub.transmethod = ReadInt32Or(root, "transmethod", 2);
        sub.rsyncstate = ReadInt32Or(root, "rsyncstate", 1);
        sub.trans_bitmap.FromText(ReadText(root, "trans_progress"));
        sub.hash_bitmap.FromText(ReadText(root, "hash_progress"));
        // Older records have none; one that could not be sent back is no validator.
        sub.validator = ReadText(root, "validator");
        if (!IsUsableValidator(sub.validator)) {
            sub.validator.clear();
        }
        const rapidjson::Value* parts = Member(root, "part_size");
        if (parts == nullptr || !parts->IsArray()) {
            return false;
        }
        sub.part_size.clear();
        for (const rapidjson::Value& element : parts->GetArray()) {
            sub.part_size.push_back(element.IsInt() ? element.GetInt() : 0);
        }
        return ReadFiles(root, sub.box_file, sub.local_file);
    });
}
