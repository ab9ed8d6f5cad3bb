#pragma once

#include <memory>
#include <optional>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace parvex_service {

// The RSA key pair that link passwords are encrypted with: 2048 bits, made once per start.
class RsaKeyPair {
public:
    RsaKeyPair();
    ~RsaKeyPair();
    RsaKeyPair(const RsaKeyPair&) = delete;
    RsaKeyPair& operator=(const RsaKeyPair&) = delete;

    // False (with a message) when the key could not be made.
    bool Generate(std::string& error);

    // The SubjectPublicKeyInfo PEM, marker lines and line breaks included.
    const std::string& PublicKeyPem() const { return m_pem; }
    // The Base64 body of that PEM on one line, without marker lines.
    std::string PublicKeyBase64Body() const;
    // Modulus size in bytes (256), the length of every ciphertext.
    int Size() const;

    // PKCS #1 v1.5 decryption; nullopt when the ciphertext is not one of this key.
    std::optional<std::string> Decrypt(const std::string& ciphertext) const;

private:
    EVP_PKEY* m_key = nullptr;
    std::string m_pem;
};

// Standard Base64 (A-Z a-z 0-9 + /, "=" padding); nullopt for anything else.
std::optional<std::string> Base64Decode(const std::string& text);

} // namespace parvex_service
