#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Upper-case hexadecimal text, two digits per byte.
std::string MakeHex(const void* data, std::size_t size);
std::string MakeHex(std::string_view bytes);
