#pragma once

// For tests that link parvex_service_lib: what a download left on disk, against the stand-in's
// generated content.
#include "file_content.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testing_support {

// Whether `localPath` is a file of `size` bytes holding the content of the link file
// `contentPath` of the link `code`; compared a MiB at a time, so large files cost little.
inline ::testing::AssertionResult LinkFileMatches(const std::string& code,
                                                  const std::string& contentPath,
                                                  std::uint64_t size,
                                                  const std::string& localPath) {
    constexpr std::uint64_t kChunk = 1 << 20;
    std::error_code error;
    if (!std::filesystem::is_regular_file(localPath, error)) {
        return ::testing::AssertionFailure() << localPath << " is not a file";
    }
    const std::uint64_t actual = std::filesystem::file_size(localPath, error);
    if (actual != size) {
        return ::testing::AssertionFailure()
               << localPath << " has " << actual << " bytes, not " << size;
    }
    std::ifstream in(localPath, std::ios::binary);
    std::string chunk;
    for (std::uint64_t offset = 0; offset < size; offset += chunk.size()) {
        chunk.resize(static_cast<std::size_t>(std::min(kChunk, size - offset)));
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (!in || chunk != parvex_service::FileContent(code, contentPath, offset, chunk.size())) {
            return ::testing::AssertionFailure()
                   << localPath << " differs in the MiB from byte " << offset;
        }
    }
    return ::testing::AssertionSuccess();
}

// The temporary download files ("*.tovutmp") anywhere below `folder`.
inline std::vector<std::string> TemporaryFilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".tovutmp") {
            found.push_back(it->path().string());
        }
    }
    return found;
}

} // namespace testing_support
