#include "rsa_keys.h"

#include "openssl_error.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace parvex_service {

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

} // namespace

RsaKeyPair::RsaKeyPair() = default;

RsaKeyPair::~RsaKeyPair() {
    EVP_PKEY_free(m_key);
}

bool RsaKeyPair::Generate(std::string& error) {
    EVP_PKEY_free(m_key);
    m_pem.clear();
    m_key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
    if (m_key == nullptr) {
        error = OpenSslError("RSA key generation failed");
        return false;
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || PEM_write_bio_PUBKEY(bio.get(), m_key) != 1) {
        error = OpenSslError("writing the public key failed");
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    m_pem.assign(data, static_cast<std::size_t>(length));
    return true;
}

std::string RsaKeyPair::PublicKeyBase64Body() const {
    std::string body;
    std::size_t begin = 0;
    while (begin < m_pem.size()) {
        std::size_t end = m_pem.find('\n', begin);
        if (end == std::string::npos) {
            end = m_pem.size();
        }
        const std::string line = m_pem.substr(begin, end - begin);
        if (line.rfind("-----", 0) != 0) {
            body += line;
        }
        begin = end + 1;
    }
    return body;
}

int RsaKeyPair::Size() const {
    return m_key == nullptr ? 0 : EVP_PKEY_get_size(m_key);
}

std::optional<std::string> RsaKeyPair::Decrypt(const std::string& ciphertext) const {
    if (m_key == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(m_key, nullptr), &EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(ciphertext.data());
    std::size_t length = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &length, in, ciphertext.size()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::string plain(length, '\0');
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &length, in,
                         ciphertext.size()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    plain.resize(length);
    return plain;
}

std::optional<std::string> Base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int j = 0; j < 4; ++j) {
            const char c = text[i + static_cast<std::size_t>(j)];
            if (c == '=' && last && j >= 2) {
                values[j] = 0;
                ++padding;
                continue;
            }
            if (padding > 0 || (values[j] = Base64Value(c)) < 0) {
                return std::nullopt;
            }
        }
        const unsigned group =
            static_cast<unsigned>(values[0] << 18 | values[1] << 12 | values[2] << 6 | values[3]);
        out.push_back(static_cast<char>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<char>((group >> 8) & 0xFF));
        }
        if (padding < 1) {
            out.push_back(static_cast<char>(group & 0xFF));
        }
    }
    return out;
}

} // namespace parvex_service
