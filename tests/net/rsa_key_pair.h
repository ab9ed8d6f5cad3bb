#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <string>
#include <vector>

// A fresh RSA key pair for tests: the public key as PEM, and decryption with the private key.
class RsaKeyPair {
public:
    explicit RsaKeyPair(unsigned bits = 2048) : m_key(EVP_RSA_gen(bits)) {}
    ~RsaKeyPair() { EVP_PKEY_free(m_key); }
    RsaKeyPair(const RsaKeyPair&) = delete;
    RsaKeyPair& operator=(const RsaKeyPair&) = delete;

    std::string PublicPem() const {
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, m_key);
        char* data = nullptr;
        const long length = BIO_get_mem_data(bio, &data);
        std::string pem(data, static_cast<std::size_t>(length));
        BIO_free(bio);
        return pem;
    }

    // The Base64 body alone, on one line.
    std::string PublicBody() const {
        std::string body;
        for (const std::string& line : Lines(PublicPem())) {
            if (!line.starts_with("-----")) {
                body += line;
            }
        }
        return body;
    }

    // Empty when the ciphertext does not decrypt.
    std::string Decrypt(const std::string& cipher) const {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(m_key, nullptr);
        std::string plain;
        std::size_t length = 0;
        const auto* in = reinterpret_cast<const unsigned char*>(cipher.data());
        if (EVP_PKEY_decrypt_init(context) > 0 &&
            EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) > 0 &&
            EVP_PKEY_decrypt(context, nullptr, &length, in, cipher.size()) > 0) {
            std::vector<unsigned char> buffer(length);
            if (EVP_PKEY_decrypt(context, buffer.data(), &length, in, cipher.size()) > 0) {
                plain.assign(reinterpret_cast<const char*>(buffer.data()), length);
            }
        }
        EVP_PKEY_CTX_free(context);
        return plain;
    }

private:
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    EVP_PKEY* m_key;
};
