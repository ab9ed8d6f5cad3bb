#pragma once

#include <cstddef>
#include <string_view>

// The text that tells one version of a file on the service from another (its ETag, else its
// Last-Modified date). A sub-task keeps the one its first reply gave and sends it back as
// If-Range, so a range never splices two versions of a file.

// The longest validator kept; a longer one is no validator.
inline constexpr std::size_t kMaxValidatorLength = 1024;

// Whether a text from the service can be kept and sent back in a header: not empty, at most
// kMaxValidatorLength bytes and free of control characters (so it cannot end the header).
bool IsUsableValidator(std::string_view text);
