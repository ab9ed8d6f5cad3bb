#pragma once

#include <optional>
#include <string>
#include <string_view>

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string Base64Encode(std::string_view bytes);

// Decodes standard Base64. Text that is not valid Base64 (wrong length, a character outside the
// alphabet, misplaced padding, non-zero bits after the last byte) gives nullopt; the empty text
// decodes to empty bytes.
std::optional<std::string> Base64DecodeChecked(std::string_view text);

// As above, with invalid text giving empty bytes.
std::string Base64Decode(std::string_view text);
