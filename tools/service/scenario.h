#pragma once

// A scenario describes what parvex-service serves. It is a JSON object (comments and trailing
// commas allowed); unknown members are refused so that a misspelt one is not silently ignored.
//
// {
//   "options": {                          // all optional
//     "page_size": 100,                   // children per metadata page
//     "public_key": "pem",                // "pem": marker lines and line breaks;
//                                         // "base64": the bare Base64 body on one line
//     "key_call": "answer",               // "answer", "missing" (404 error object) or
//                                         // "empty" (200 with an empty body)
//     "converted_polls": 2,               // converted-document polls answered "state": 100
//     "support": ["files/signature", "files/patch"],  // capabilities of GET /v2/support
//     "threads": 64,                      // connections served at the same time
//     "modified": "2024-05-01T10:20:30+08:00"         // default "modified" of every item
//   },
//   "links": [{
//     "code": "Ab12Cd",                   // delivery code: required, unique, no / ? #
//     "password": "secret",               // optional, default empty
//     "login_only": false,                // answer of is_login_verify
//     "remaining": 5,                     // remaining download count (default 100)
//     "access_mode": 0,
//     "item": ITEM                        // the shared file or folder: required
//   }],
//   "short_addresses": [
//     {"path": "/s/abc", "code": "Ab12Cd"},                  // 302 to <base>/link/view/Ab12Cd
//     {"path": "/s/old", "error": {"code": "20005", "msg": "link removed"}}  // 200 error form
//   ],
//   "storage": {                          // optional: the user's own storage
//     "uid": "u-1001", "account_id": "a-2002",
//     "items": [ITEM, ...]                // the children of the storage root "/"
//   }
// }
//
// ITEM is a file or a folder; its name holds no "/" or NUL and is not "." or "..". A folder
// has "children" or "generate" (or "folder": true):
//   {"name": "Reports", "children": [ITEM, ...],
//    "generate": {"count": 10000, "size": 1000, "prefix": "f", "extension": ".bin"}}
// "generate" adds `count` files after the listed children, named prefix + zero-padded index +
// extension ("f0000.bin" ... "f9999.bin"); they are never materialised. A file has a size:
//   {"name": "q1.xlsx", "size": 1048576,
//    "converted": {"size": 5000, "polls": 2},   // served as a converted document
//    "watermark": {"size": 3000}}               // served as a watermarked copy (folders too)
// Optional on every item: "modified", "rev". Storage files may list earlier revisions:
//   "revisions": [{"rev": "3", "size": 100, "version": "2", "user": "ann", "op": "update"}]
// Converted and watermarked sizes default to the item's size.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace parvex_service {

struct GeneratedFiles {
    std::uint64_t count = 0;
    std::uint64_t size = 0;
    std::string prefix = "f";
    std::string extension;
};

struct Converted {
    std::uint64_t size = 0;
    int polls = -1; // negative: the scenario's "converted_polls"
};

struct Watermark {
    std::uint64_t size = 0;
};

struct Revision {
    std::string rev;
    std::uint64_t size = 0;
    std::string version;
    std::string user;
    std::string op;
};

struct Item {
    std::string name;
    bool isDir = false;
    std::uint64_t size = 0;
    std::string modified; // empty: the scenario's default
    std::string rev;      // empty: "1"
    std::optional<Converted> converted;
    std::optional<Watermark> watermark;
    std::vector<Item> children;
    GeneratedFiles generate;
    std::vector<Revision> revisions;
    std::unordered_map<std::string, std::size_t> childIndex; // name -> index in children
};

struct Link {
    std::string code;
    std::string password;
    bool loginOnly = false;
    int remaining = 100;
    int accessMode = 0;
    Item item;
};

struct ShortAddress {
    std::string path;
    std::string code; // redirect target; empty for the error form
    bool isError = false;
    std::string errorCode;
    std::string errorMessage;
};

struct Storage {
    bool present = false;
    std::string uid = "u-1001";
    std::string accountId = "a-2002";
    Item root; // a folder named "" whose path is "/"
};

enum class KeyFormat { Pem, Base64Body };
enum class KeyCall { Answer, Missing, Empty };

struct Options {
    int pageSize = 100;
    KeyFormat keyFormat = KeyFormat::Pem;
    KeyCall keyCall = KeyCall::Answer;
    int convertedPolls = 2;
    std::vector<std::string> support = {"files/signature", "files/patch"};
    int threads = 64;
    std::string modified = "2024-05-01T10:20:30+08:00";
};

struct Scenario {
    Options options;
    std::vector<Link> links;
    std::vector<ShortAddress> shortAddresses;
    Storage storage;
};

// Parses a scenario; on failure returns false and a message naming the member at fault.
bool ParseScenario(const std::string& jsonText, Scenario& out, std::string& error);
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);

// Children of a folder: the listed ones first, then the generated files.
std::uint64_t ChildCount(const Item& folder);
// The child at `index` (< ChildCount); a generated child is built in `scratch`.
const Item& ChildAt(const Item& folder, std::uint64_t index, Item& scratch);
// The item at `relative` below `root` ("" or "/" for the root itself, else "/a/b"; empty
// segments are skipped), or nullptr. A generated file is built in `scratch`.
const Item* FindItem(const Item& root, std::string_view relative, Item& scratch);
// The same with the path given as its segments, each one whole name: a "/" inside a segment
// is part of the name (and so matches nothing).
const Item* FindItemBySegments(const Item& root, const std::vector<std::string>& segments,
                               Item& scratch);
// The parts of `path` between its "/"s, empty ones included.
std::vector<std::string_view> PathSegments(std::string_view path);

} // namespace parvex_service
