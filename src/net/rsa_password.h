#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <string>

struct PublicKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PublicKey = std::unique_ptr<EVP_PKEY, PublicKeyDeleter>;

// The longest key text read: many times a PEM key of the largest size accepted, so that a
// reply of any length costs no more than this to look at.
inline constexpr std::size_t kLargestKeyText = 16384;

// Reads the service's RSA public key: PEM text with or without its marker lines, on one line
// or several. Null when it cannot be read (the library's reason goes to the developer trace)
// or is longer than kLargestKeyText.
PublicKey LoadPublicKey(const std::string& keyText);

// The password encrypted with the key (RSA, PKCS #1 v1.5 padding) in standard Base64; empty
// when the key cannot be read or the password is too long for it.
std::string EncryptPassword(const std::string& keyText, const std::string& password);
