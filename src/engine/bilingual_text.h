#pragma once

#include <cstddef>

// A message of a code in the two interface languages.
struct BilingualText {
    int code;
    const char* english;
    const char* chinese;

    const char* In(bool englishText) const { return englishText ? english : chinese; }
};

// The row of a code in a table, or nullptr.
template <std::size_t N>
const BilingualText* FindBilingualText(const BilingualText (&table)[N], int code) {
    for (const BilingualText& row : table) {
        if (row.code == code) {
            return &row;
        }
    }
    return nullptr;
}
