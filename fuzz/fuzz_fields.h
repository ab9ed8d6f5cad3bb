#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A fuzz input read as N text fields, one a line: the last field takes the rest of the input
// (line feeds included) and missing fields are empty. Seed files stay readable this way.
template <std::size_t N>
std::array<std::string_view, N> SplitFields(const std::uint8_t* data, std::size_t size) {
    static_assert(N > 0);
    std::array<std::string_view, N> fields{};
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            fields[i] = rest;
            return fields;
        }
        fields[i] = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    fields[N - 1] = rest;
    return fields;
}

inline std::string_view InputText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}
