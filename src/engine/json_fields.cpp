#include "engine/json_fields.h"

#include <charconv>
#include <limits>
#include <string_view>

namespace json_fields {

namespace {

const rapidjson::Value* Find(const rapidjson::Value& object, const char* key) {
    if (!object.IsObject()) {
        return nullptr;
    }
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

// An integer from a JSON number, or from a string of decimal digits with an optional sign.
bool ReadInteger(const rapidjson::Value& object, const char* key, std::int64_t& signedOut,
                 std::uint64_t& unsignedOut, bool& negative) {
    const rapidjson::Value* value = Find(object, key);
    if (value == nullptr) {
        return false;
    }
    if (value->IsUint64()) {
        unsignedOut = value->GetUint64();
        negative = false;
        return true;
    }
    if (value->IsInt64()) {
        signedOut = value->GetInt64();
        negative = true;
        return true;
    }
    if (!value->IsString()) {
        return false;
    }
    const std::string_view text(value->GetString(), value->GetStringLength());
    if (text.empty()) {
        return false;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (text.front() == '-') {
        const auto [ptr, error] = std::from_chars(begin, end, signedOut);
        negative = true;
        return error == std::errc() && ptr == end;
    }
    const auto [ptr, error] = std::from_chars(begin, end, unsignedOut);
    negative = false;
    return error == std::errc() && ptr == end;
}

} // namespace

bool Has(const rapidjson::Value& object, const char* key) {
    return Find(object, key) != nullptr;
}

std::uint64_t ReadUint64(const rapidjson::Value& object, const char* key) {
    std::int64_t s = 0;
    std::uint64_t u = 0;
    bool negative = false;
    if (!ReadInteger(object, key, s, u, negative) || negative) {
        return 0;
    }
    return u;
}

bool ReadBoundedSize(const rapidjson::Value& object, const char* key, std::uint64_t max,
                     std::uint64_t& out) {
    if (Find(object, key) == nullptr) {
        out = 0;
        return true;
    }
    std::int64_t s = 0;
    std::uint64_t u = 0;
    bool negative = false;
    if (!ReadInteger(object, key, s, u, negative) || (negative && s != 0) || u > max) {
        return false;
    }
    out = negative ? 0 : u;
    return true;
}

std::uint32_t ReadUint32(const rapidjson::Value& object, const char* key) {
    const std::uint64_t value = ReadUint64(object, key);
    return value <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::uint32_t>(value)
                                                              : 0;
}

std::int64_t ReadInt64(const rapidjson::Value& object, const char* key) {
    std::int64_t s = 0;
    std::uint64_t u = 0;
    bool negative = false;
    if (!ReadInteger(object, key, s, u, negative)) {
        return 0;
    }
    if (negative) {
        return s;
    }
    return u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? static_cast<std::int64_t>(u)
               : 0;
}

std::int32_t ReadInt32(const rapidjson::Value& object, const char* key) {
    const std::int64_t value = ReadInt64(object, key);
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max())) {
        return 0;
    }
    // Values above 2^31 - 1 are unsigned 32-bit numbers written by the records.
    return value < 0 ? static_cast<std::int32_t>(value)
                     : static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::string ReadText(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = Find(object, key);
    if (value == nullptr) {
        return {};
    }
    if (value->IsString()) {
        return std::string(value->GetString(), value->GetStringLength());
    }
    if (value->IsUint64()) {
        return std::to_string(value->GetUint64());
    }
    if (value->IsInt64()) {
        return std::to_string(value->GetInt64());
    }
    if (value->IsDouble()) {
        const double number = value->GetDouble();
        // Outside the 64-bit range (or NaN) there is no integer part to write.
        if (number > -9.2e18 && number < 9.2e18) {
            return std::to_string(static_cast<long long>(number));
        }
    }
    return {};
}

bool ReadBool(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = Find(object, key);
    return value != nullptr && value->IsBool() && value->GetBool();
}

} // namespace json_fields
