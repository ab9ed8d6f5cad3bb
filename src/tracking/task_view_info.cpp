#include "tracking/task_view_info.h"

#include "engine/json_fields.h"
#include "engine/json_text.h"

#include <rapidjson/document.h>

#include <bit>

using namespace json_fields;

int ViewStateFromName(std::string_view stateName) {
    if (stateName == "StatePreparing" || stateName == "StateWaitPreparing") {
        return view_state::kPreparing;
    }
    if (stateName == "StateWorking" || stateName == "StateWaiting") {
        return view_state::kWorking;
    }
    if (stateName == "StateCompleted") {
        return view_state::kCompleted;
    }
    if (stateName == "StatePaused") {
        return view_state::kPaused;
    }
    if (stateName == "StateNone") {
        return view_state::kAbsent;
    }
    return view_state::kError;
}

int PathTypeFromName(std::string_view pathType) {
    if (pathType == "ent") {
        return 1;
    }
    if (pathType == "share_in") {
        return 4;
    }
    if (pathType == "share_out") {
        return 8;
    }
    return 2;
}

CParvexBitArray::CParvexBitArray(const CParvexBitArray& other)
    : m_bytes(other.m_bytes), m_count(other.m_count),
      m_words(other.m_words ? std::make_unique<std::vector<std::uint32_t>>(*other.m_words)
                            : nullptr),
      m_valid(other.m_valid) {}

CParvexBitArray& CParvexBitArray::operator=(const CParvexBitArray& other) {
    if (this != &other) {
        CParvexBitArray copy(other);
        m_bytes = std::move(copy.m_bytes);
        m_count = copy.m_count;
        m_words = std::move(copy.m_words);
        m_valid = copy.m_valid;
    }
    return *this;
}

void CParvexBitArray::SetBytes(std::vector<std::uint8_t> bytes) {
    while (!bytes.empty() && bytes.back() == 0) {
        bytes.pop_back();
    }
    m_bytes = std::move(bytes);
    m_count = -1;
    m_words.reset();
}

std::int64_t CParvexBitArray::Count() const {
    if (m_count < 0) {
        std::int64_t count = 0;
        for (const std::uint8_t byte : m_bytes) {
            count += std::popcount(byte);
        }
        m_count = count;
    }
    return m_count;
}

namespace {

QString Text(const rapidjson::Value& object, const char* key) {
    return QString::fromStdString(ReadText(object, key));
}

const rapidjson::Value* ObjectMember(const rapidjson::Value& root, const char* key) {
    const auto member = root.FindMember(key);
    return member != root.MemberEnd() && member->value.IsObject() ? &member->value : nullptr;
}

int ReadIntOr(const rapidjson::Value& object, const char* key, int absent) {
    return Has(object, key) ? ReadInt32(object, key) : absent;
}

} // namespace

CTaskViewInfo DecodeTaskView(std::string_view json, bool asTask) {
    CTaskViewInfo view;
    rapidjson::Document document;
    if (!ParseJsonObject(json, document)) {
        return view;
    }
    const rapidjson::Value& root = document;
    view.isDownload = !ReadBool(root, "is_upload");
    view.isFolder = ReadBool(root, "is_folder");
    view.taskId = Text(root, "task_id");
    view.groupId = Text(root, "group_id");
    view.uploadValue = ReadIntOr(root, "is_upload", view.uploadValue);
    view.isSecureTransfer = ReadBool(root, "is_sectrans");
    if (Has(root, "state")) {
        view.viewState = ViewStateFromName(ReadText(root, "state"));
    }
    view.addTime = ReadUint64(root, "add_time");
    view.size = ReadUint64(root, "size");
    view.completedBytes = ReadUint64(root, "complete_bytes");
    view.speed = ReadUint64(root, "speed");
    view.speedCopy = view.speed;
    view.errorCode = ReadInt32(root, "error_code");
    view.errorText = Text(root, "error_info");
    view.transferMethod = ReadIntOr(root, "transmethod", 2);
    view.syncState = ReadIntOr(root, "rsyncstate", 1);
    if (asTask) {
        view.usedTime = ReadUint64(root, "used_time");
        view.completedSubTasks = ReadUint64(root, "complete_sub_task_count");
        view.subTasks = ReadUint64(root, "sub_task_count");
        view.newServicePath = Text(root, "new_box_path");
    }

    QString localPath;
    QString boxPath;
    if (const rapidjson::Value* local = ObjectMember(root, "local_file")) {
        localPath = Text(*local, "path");
    }
    if (const rapidjson::Value* box = ObjectMember(root, "box_file")) {
        boxPath = Text(*box, "path");
        view.pathType = PathTypeFromName(ReadText(*box, "pathtype"));
        view.origin = Text(*box, "from");
    }
    view.sourcePath = view.isDownload ? boxPath : localPath;
    view.targetPath = view.isDownload ? localPath : boxPath;
    view.info.sourcePath = view.sourcePath;
    view.info.targetPath = view.targetPath;
    return view;
}
