#pragma once

#include <openssl/err.h>

#include <string>

namespace parvex_service {

// "what: " and the text of the crypto library's oldest queued error.
inline std::string OpenSslError(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof(text));
    return std::string(what) + ": " + text;
}

} // namespace parvex_service
