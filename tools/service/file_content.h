#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parvex_service {

// File content is generated, never stored: byte i of a file is a pure function of a seed (made
// from the link code and the file's path) and i, so any byte range can be produced on its own
// and any download checked byte for byte.

// The seed of the file `path` of the link `code`. Storage files use the empty code.
std::uint64_t ContentSeed(std::string_view code, std::string_view path);

// Writes `length` bytes of the content with `seed`, starting at `offset`, to `out`.
void FillContent(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length);

// The seed of the content that replaces the content with `seed` (a file changed on the
// service, FaultKind::NewContent).
std::uint64_t ReplacedContentSeed(std::uint64_t seed);

// The strong ETag of the content with `seed`: its seed in quoted hex.
std::string ContentETag(std::uint64_t seed);

// `length` bytes of the file `path` of the link `code`, from `offset`.
std::string FileContent(const std::string& code, const std::string& path, std::uint64_t offset,
                        std::size_t length);

// Content keys. A file of a link has the path of its "path" member ("/" + the shared item's
// name + the path below the link root); its converted and watermarked copies and the earlier
// revisions of a storage file have keys of their own.
std::string ConvertedContentPath(std::string_view itemPath);
std::string WatermarkContentPath(std::string_view itemPath);
std::string RevisionContentPath(std::string_view storagePath, std::string_view rev);

} // namespace parvex_service
