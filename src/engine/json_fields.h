#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>

// Lenient readers of one member of a JSON object, for the stored records and the service's
// replies: a missing member, one of another type, or a root that is not an object gives 0,
// false or empty text; an integer member also accepts its decimal digits as a string, and a
// text member also accepts a number (a fraction gives its integer part).
namespace json_fields {

bool Has(const rapidjson::Value& object, const char* key);
std::uint64_t ReadUint64(const rapidjson::Value& object, const char* key);
std::uint32_t ReadUint32(const rapidjson::Value& object, const char* key);
// Accepts -2^31 .. 2^32-1: the records write some signed values as unsigned 32-bit numbers.
std::int32_t ReadInt32(const rapidjson::Value& object, const char* key);
std::int64_t ReadInt64(const rapidjson::Value& object, const char* key);
// Strict: an integer from 0 to `max` (a number or its digits as a string) or a missing member
// (0). False, with `out` untouched, for anything else.
bool ReadBoundedSize(const rapidjson::Value& object, const char* key, std::uint64_t max,
                     std::uint64_t& out);
std::string ReadText(const rapidjson::Value& object, const char* key);
bool ReadBool(const rapidjson::Value& object, const char* key);

} // namespace json_fields
