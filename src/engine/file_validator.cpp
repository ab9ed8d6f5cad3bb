#include "engine/file_validator.h"

#include <algorithm>

bool IsUsableValidator(std::string_view text) {
    return !text.empty() && text.size() <= kMaxValidatorLength &&
           std::none_of(text.begin(), text.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F;
           });
}
