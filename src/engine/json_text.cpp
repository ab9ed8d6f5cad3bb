#include "engine/json_text.h"

namespace {

// Whether arrays and objects nest deeper than the limit, counted outside strings. Text that
// is not JSON may pass; the parse refuses it.
bool NestsTooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kJsonNestingLimit) {
                return true;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

} // namespace

bool ParseJsonText(std::string_view text, rapidjson::Document& document) {
    if (NestsTooDeep(text)) {
        document.SetNull();
        return false;
    }
    document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    if (document.HasParseError()) {
        document.SetNull();
        return false;
    }
    return true;
}

bool ParseJsonObject(std::string_view text, rapidjson::Document& document) {
    return ParseJsonText(text, document) && document.IsObject();
}
