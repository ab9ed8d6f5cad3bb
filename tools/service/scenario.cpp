#include "scenario.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

namespace parvex_service {

namespace {

using Value = rapidjson::Value;

// Thrown inside the parser only; ParseScenario turns it into its error text.
struct ScenarioError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw ScenarioError{where + ": " + what};
}

void RequireObject(const Value& value, const std::string& where) {
    if (!value.IsObject()) {
        Fail(where, "must be an object");
    }
}

// Refuses members other than `known`, so a misspelt member is reported.
void CheckMembers(const Value& object, const std::string& where,
                  std::initializer_list<std::string_view> known) {
    for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
        const std::string_view name(it->name.GetString(), it->name.GetStringLength());
        bool found = false;
        for (std::string_view k : known) {
            found = found || k == name;
        }
        if (!found) {
            Fail(where, "unknown member \"" + std::string(name) + "\"");
        }
    }
}

const Value* Member(const Value& object, const char* name) {
    auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

std::string MemberPath(const std::string& where, const char* name) {
    return where + "." + name;
}

std::string ReadString(const Value& object, const char* name, const std::string& where,
                       bool required, const std::string& fallback = std::string()) {
    const Value* value = Member(object, name);
    if (value == nullptr) {
        if (required) {
            Fail(where, std::string("member \"") + name + "\" is missing");
        }
        return fallback;
    }
    if (!value->IsString()) {
        Fail(MemberPath(where, name), "must be a text");
    }
    return std::string(value->GetString(), value->GetStringLength());
}

std::uint64_t ReadUint64(const Value& object, const char* name, const std::string& where,
                         bool required, std::uint64_t fallback = 0) {
    const Value* value = Member(object, name);
    if (value == nullptr) {
        if (required) {
            Fail(where, std::string("member \"") + name + "\" is missing");
        }
        return fallback;
    }
    if (!value->IsUint64()) {
        Fail(MemberPath(where, name), "must be a non-negative integer");
    }
    return value->GetUint64();
}

int ReadInt(const Value& object, const char* name, const std::string& where, int fallback,
            int lowest) {
    const Value* value = Member(object, name);
    if (value == nullptr) {
        return fallback;
    }
    if (!value->IsInt() || value->GetInt() < lowest) {
        Fail(MemberPath(where, name), "must be an integer of at least " + std::to_string(lowest));
    }
    return value->GetInt();
}

bool ReadBool(const Value& object, const char* name, const std::string& where, bool fallback) {
    const Value* value = Member(object, name);
    if (value == nullptr) {
        return fallback;
    }
    if (!value->IsBool()) {
        Fail(MemberPath(where, name), "must be true or false");
    }
    return value->GetBool();
}

// An item name may hold "?", "#" and "%": the service lists such names, and their addresses
// must still find them.
void CheckName(const std::string& name, const std::string& where) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        Fail(where, "name \"" + name + "\" is empty, \".\", \"..\" or holds / or NUL");
    }
}

// A delivery code ends before "?" or "#" in a link address.
void CheckCode(const std::string& code, const std::string& where) {
    CheckName(code, where);
    if (code.find_first_of("?#") != std::string::npos) {
        Fail(where, "code \"" + code + "\" holds ? or #");
    }
}

std::size_t DigitCount(std::uint64_t n) {
    std::size_t digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

// Width of the zero-padded index of generated names: that of the largest index.
std::size_t GeneratedWidth(const GeneratedFiles& files) {
    return files.count == 0 ? 1 : DigitCount(files.count - 1);
}

std::string GeneratedName(const GeneratedFiles& files, std::uint64_t index) {
    std::string digits = std::to_string(index);
    const std::size_t width = GeneratedWidth(files);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), '0');
    }
    return files.prefix + digits + files.extension;
}

void ParseItem(const Value& value, const std::string& where, Item& item, bool isStorageRoot);

void ParseChildren(const Value& list, const std::string& where, Item& folder) {
    if (!list.IsArray()) {
        Fail(where, "must be an array");
    }
    folder.children.resize(list.Size());
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        const std::string childWhere = where + "[" + std::to_string(i) + "]";
        ParseItem(list[i], childWhere, folder.children[i], false);
        if (!folder.childIndex.emplace(folder.children[i].name, i).second) {
            Fail(childWhere, "a second child named \"" + folder.children[i].name + "\"");
        }
    }
}

void ParseItem(const Value& value, const std::string& where, Item& item, bool isStorageRoot) {
    RequireObject(value, where);
    CheckMembers(value, where,
                 {"name", "size", "folder", "children", "generate", "converted", "watermark",
                  "modified", "rev", "revisions"});
    if (!isStorageRoot) {
        item.name = ReadString(value, "name", where, true);
        CheckName(item.name, where);
    }
    item.modified = ReadString(value, "modified", where, false);
    item.rev = ReadString(value, "rev", where, false);
    const Value* children = Member(value, "children");
    const Value* generate = Member(value, "generate");
    item.isDir = isStorageRoot || children != nullptr || generate != nullptr ||
                 ReadBool(value, "folder", where, false);
    if (item.isDir) {
        if (Member(value, "size") != nullptr) {
            Fail(where, "a folder has no \"size\"");
        }
        if (children != nullptr) {
            ParseChildren(*children, MemberPath(where, "children"), item);
        }
        if (generate != nullptr) {
            const std::string at = MemberPath(where, "generate");
            RequireObject(*generate, at);
            CheckMembers(*generate, at, {"count", "size", "prefix", "extension"});
            item.generate.count = ReadUint64(*generate, "count", at, true);
            item.generate.size = ReadUint64(*generate, "size", at, true);
            item.generate.prefix = ReadString(*generate, "prefix", at, false, "f");
            item.generate.extension = ReadString(*generate, "extension", at, false);
            CheckName(GeneratedName(item.generate, 0), at);
        }
    } else {
        item.size = ReadUint64(value, "size", where, true);
    }
    if (const Value* converted = Member(value, "converted")) {
        const std::string at = MemberPath(where, "converted");
        RequireObject(*converted, at);
        CheckMembers(*converted, at, {"size", "polls"});
        if (item.isDir) {
            Fail(at, "a folder cannot be a converted document");
        }
        item.converted = Converted{ReadUint64(*converted, "size", at, false, item.size),
                                   ReadInt(*converted, "polls", at, -1, 0)};
    }
    if (const Value* watermark = Member(value, "watermark")) {
        const std::string at = MemberPath(where, "watermark");
        RequireObject(*watermark, at);
        CheckMembers(*watermark, at, {"size"});
        item.watermark = Watermark{ReadUint64(*watermark, "size", at, false, item.size)};
    }
    if (const Value* revisions = Member(value, "revisions")) {
        const std::string at = MemberPath(where, "revisions");
        if (!revisions->IsArray() || item.isDir) {
            Fail(at, "must be an array, and only on a file");
        }
        for (rapidjson::SizeType i = 0; i < revisions->Size(); ++i) {
            const std::string revWhere = at + "[" + std::to_string(i) + "]";
            const Value& r = (*revisions)[i];
            RequireObject(r, revWhere);
            CheckMembers(r, revWhere, {"rev", "size", "version", "user", "op"});
            Revision revision;
            revision.rev = ReadString(r, "rev", revWhere, true);
            revision.size = ReadUint64(r, "size", revWhere, false, item.size);
            revision.version = ReadString(r, "version", revWhere, false);
            revision.user = ReadString(r, "user", revWhere, false);
            revision.op = ReadString(r, "op", revWhere, false, "update");
            item.revisions.push_back(std::move(revision));
        }
    }
}

void ParseOptions(const Value& value, Options& options) {
    const std::string where = "options";
    RequireObject(value, where);
    CheckMembers(value, where,
                 {"page_size", "public_key", "key_call", "converted_polls", "support", "threads",
                  "modified"});
    options.pageSize = ReadInt(value, "page_size", where, options.pageSize, 1);
    const std::string format = ReadString(value, "public_key", where, false, "pem");
    if (format == "pem") {
        options.keyFormat = KeyFormat::Pem;
    } else if (format == "base64") {
        options.keyFormat = KeyFormat::Base64Body;
    } else {
        Fail(MemberPath(where, "public_key"), "must be \"pem\" or \"base64\"");
    }
    const std::string call = ReadString(value, "key_call", where, false, "answer");
    if (call == "answer") {
        options.keyCall = KeyCall::Answer;
    } else if (call == "missing") {
        options.keyCall = KeyCall::Missing;
    } else if (call == "empty") {
        options.keyCall = KeyCall::Empty;
    } else {
        Fail(MemberPath(where, "key_call"), "must be \"answer\", \"missing\" or \"empty\"");
    }
    options.convertedPolls = ReadInt(value, "converted_polls", where, options.convertedPolls, 0);
    options.threads = ReadInt(value, "threads", where, options.threads, 2);
    options.modified = ReadString(value, "modified", where, false, options.modified);
    if (const Value* support = Member(value, "support")) {
        const std::string at = MemberPath(where, "support");
        if (!support->IsArray()) {
            Fail(at, "must be an array of texts");
        }
        options.support.clear();
        for (const Value& entry : support->GetArray()) {
            if (!entry.IsString()) {
                Fail(at, "must be an array of texts");
            }
            options.support.emplace_back(entry.GetString(), entry.GetStringLength());
        }
    }
}

void ParseLinks(const Value& value, Scenario& out) {
    if (!value.IsArray()) {
        Fail("links", "must be an array");
    }
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
        const std::string where = "links[" + std::to_string(i) + "]";
        const Value& entry = value[i];
        RequireObject(entry, where);
        CheckMembers(entry, where,
                     {"code", "password", "login_only", "remaining", "access_mode", "item"});
        Link link;
        link.code = ReadString(entry, "code", where, true);
        CheckCode(link.code, MemberPath(where, "code"));
        for (const Link& other : out.links) {
            if (other.code == link.code) {
                Fail(MemberPath(where, "code"), "\"" + link.code + "\" is used twice");
            }
        }
        link.password = ReadString(entry, "password", where, false);
        link.loginOnly = ReadBool(entry, "login_only", where, false);
        link.remaining = ReadInt(entry, "remaining", where, link.remaining, 0);
        link.accessMode = ReadInt(entry, "access_mode", where, 0, std::numeric_limits<int>::min());
        const Value* item = Member(entry, "item");
        if (item == nullptr) {
            Fail(where, "member \"item\" is missing");
        }
        ParseItem(*item, MemberPath(where, "item"), link.item, false);
        out.links.push_back(std::move(link));
    }
}

void ParseShortAddresses(const Value& value, Scenario& out) {
    if (!value.IsArray()) {
        Fail("short_addresses", "must be an array");
    }
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
        const std::string where = "short_addresses[" + std::to_string(i) + "]";
        const Value& entry = value[i];
        RequireObject(entry, where);
        CheckMembers(entry, where, {"path", "code", "error"});
        ShortAddress address;
        address.path = ReadString(entry, "path", where, true);
        if (address.path.empty() || address.path[0] != '/' ||
            address.path.find('?') != std::string::npos) {
            Fail(MemberPath(where, "path"), "must start with \"/\" and hold no query");
        }
        const Value* error = Member(entry, "error");
        if (error != nullptr) {
            const std::string at = MemberPath(where, "error");
            RequireObject(*error, at);
            CheckMembers(*error, at, {"code", "msg"});
            address.isError = true;
            address.errorCode = ReadString(*error, "code", at, true);
            address.errorMessage = ReadString(*error, "msg", at, false);
        } else {
            address.code = ReadString(entry, "code", where, true);
        }
        out.shortAddresses.push_back(std::move(address));
    }
}

void ParseStorage(const Value& value, Storage& storage) {
    const std::string where = "storage";
    RequireObject(value, where);
    CheckMembers(value, where, {"uid", "account_id", "items"});
    storage.present = true;
    storage.uid = ReadString(value, "uid", where, false, storage.uid);
    storage.accountId = ReadString(value, "account_id", where, false, storage.accountId);
    storage.root = Item();
    storage.root.isDir = true;
    if (const Value* items = Member(value, "items")) {
        ParseChildren(*items, MemberPath(where, "items"), storage.root);
    }
}

// "line L, column C" of a byte offset, for parse errors.
std::string Position(const std::string& text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

} // namespace

bool ParseScenario(const std::string& jsonText, Scenario& out, std::string& error) {
    rapidjson::Document document;
    constexpr unsigned kFlags = rapidjson::kParseCommentsFlag | rapidjson::kParseTrailingCommasFlag;
    document.Parse<kFlags>(jsonText.data(), jsonText.size());
    if (document.HasParseError()) {
        error = std::string("not valid JSON at ") + Position(jsonText, document.GetErrorOffset()) +
                ": " + rapidjson::GetParseError_En(document.GetParseError());
        return false;
    }
    try {
        Scenario scenario;
        RequireObject(document, "scenario");
        CheckMembers(document, "scenario", {"options", "links", "short_addresses", "storage"});
        if (const Value* options = Member(document, "options")) {
            ParseOptions(*options, scenario.options);
        }
        if (const Value* links = Member(document, "links")) {
            ParseLinks(*links, scenario);
        }
        if (const Value* addresses = Member(document, "short_addresses")) {
            ParseShortAddresses(*addresses, scenario);
        }
        if (const Value* storage = Member(document, "storage")) {
            ParseStorage(*storage, scenario.storage);
        }
        out = std::move(scenario);
        return true;
    } catch (const ScenarioError& e) {
        error = e.message;
        return false;
    }
}

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the scenario file " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ParseScenario(text.str(), out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::uint64_t ChildCount(const Item& folder) {
    return folder.children.size() + folder.generate.count;
}

const Item& ChildAt(const Item& folder, std::uint64_t index, Item& scratch) {
    if (index < folder.children.size()) {
        return folder.children[index];
    }
    const std::uint64_t generated = index - folder.children.size();
    scratch = Item();
    scratch.name = GeneratedName(folder.generate, generated);
    scratch.size = folder.generate.size;
    scratch.modified = folder.modified;
    return scratch;
}

namespace {

// The generated child named `name`, if the pattern and range fit.
bool FindGenerated(const Item& folder, std::string_view name, Item& scratch) {
    const GeneratedFiles& files = folder.generate;
    const std::size_t width = GeneratedWidth(files);
    if (files.count == 0 || name.size() != files.prefix.size() + width + files.extension.size() ||
        name.substr(0, files.prefix.size()) != files.prefix ||
        name.substr(name.size() - files.extension.size()) != files.extension) {
        return false;
    }
    std::uint64_t index = 0;
    for (char c : name.substr(files.prefix.size(), width)) {
        if (c < '0' || c > '9') {
            return false;
        }
        index = index * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (index >= files.count) {
        return false;
    }
    ChildAt(folder, folder.children.size() + index, scratch);
    return true;
}

} // namespace

std::vector<std::string_view> PathSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t begin = 0;
    while (begin < path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        segments.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return segments;
}

const Item* FindItem(const Item& root, std::string_view relative, Item& scratch) {
    const std::vector<std::string_view> segments = PathSegments(relative);
    return FindItemBySegments(root, std::vector<std::string>(segments.begin(), segments.end()),
                              scratch);
}

const Item* FindItemBySegments(const Item& root, const std::vector<std::string>& segments,
                               Item& scratch) {
    const Item* current = &root;
    for (const std::string& segment : segments) {
        if (segment.empty()) {
            continue;
        }
        if (!current->isDir || current == &scratch) {
            return nullptr;
        }
        auto it = current->childIndex.find(segment);
        if (it != current->childIndex.end()) {
            current = &current->children[it->second];
        } else if (FindGenerated(*current, segment, scratch)) {
            current = &scratch;
        } else {
            return nullptr;
        }
    }
    return current;
}

} // namespace parvex_service
