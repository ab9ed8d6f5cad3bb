#include "net/rsa_password.h"

#include "engine/base64.h"
#include "log/debug_trace.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <vector>

namespace {

constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
// Keys of more than this many bytes are refused, as the service never sends them.
constexpr int kLargestKeyBytes = 1028;

void EraseAll(std::string& text, std::string_view part) {
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) {
        text.erase(at, part.size());
    }
}

// The Base64 body of the key in lines of 64 characters between the marker lines. Line breaks
// and blanks inside the body are dropped first, so a key sent as ordinary multi-line PEM reads
// as well as one sent on a single line.
std::string RewrapKey(std::string text) {
    EraseAll(text, kBegin);
    EraseAll(text, kEnd);
    std::string body;
    for (const char c : text) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') {
            body += c;
        }
    }
    std::string wrapped(kBegin);
    wrapped += '\n';
    for (std::size_t at = 0; at < body.size(); at += 64) {
        wrapped += body.substr(at, 64);
        wrapped += '\n';
    }
    wrapped += kEnd;
    wrapped += '\n';
    return wrapped;
}

void TraceOpenSslError(const char* what) {
    char text[512] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    DebugTrace("%s: %s\n", what, text);
    ERR_clear_error();
}

} // namespace

PublicKey LoadPublicKey(const std::string& keyText) {
    // Rewrapping erases each marker in place: a long text of markers would take hours.
    if (keyText.size() > kLargestKeyText) {
        DebugTrace("LoadPublicKey: a key text of %zu bytes is refused\n", keyText.size());
        return nullptr;
    }
    const std::string pem = RewrapKey(keyText);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) {
        DebugTrace("BIO_new_mem_buf failed!\n");
        return nullptr;
    }
    PublicKey key(PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    if (key == nullptr) {
        TraceOpenSslError("LoadPublicKey");
        return nullptr;
    }
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        DebugTrace("LoadPublicKey: not an RSA key\n");
        return nullptr;
    }
    return key;
}

std::string EncryptPassword(const std::string& keyText, const std::string& password) {
    const PublicKey key = LoadPublicKey(keyText);
    if (key == nullptr || EVP_PKEY_get_size(key.get()) > kLargestKeyBytes) {
        return {};
    }
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.get(), nullptr);
    std::string encrypted;
    std::size_t length = 0;
    if (context != nullptr && EVP_PKEY_encrypt_init(context) > 0 &&
        EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) > 0 &&
        EVP_PKEY_encrypt(context, nullptr, &length,
                         reinterpret_cast<const unsigned char*>(password.data()),
                         password.size()) > 0) {
        std::vector<unsigned char> buffer(length);
        if (EVP_PKEY_encrypt(context, buffer.data(), &length,
                             reinterpret_cast<const unsigned char*>(password.data()),
                             password.size()) > 0) {
            encrypted = Base64Encode(
                std::string_view(reinterpret_cast<const char*>(buffer.data()), length));
        } else {
            TraceOpenSslError("EncryptPassword");
        }
    }
    EVP_PKEY_CTX_free(context);
    return encrypted;
}
