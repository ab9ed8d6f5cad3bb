#include "engine/protect_text.h"

#include "engine/base64.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <climits>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kSystemMachineIdPath = "/etc/machine-id";
constexpr std::string_view kDbusMachineIdPath = "/var/lib/dbus/machine-id";
constexpr std::string_view kMagic = "PVX1";
constexpr std::string_view kSalt = "VarnokData3.0";
constexpr std::string_view kInfo = "parvex-protect";
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;
// A machine id is 33 bytes; anything far larger is not one.
constexpr std::size_t kMaxMachineIdSize = 4096;

std::mutex g_pathMutex;
std::string g_machineIdPathOverride;

// The override, or the system's files in the order they are looked for.
std::vector<std::string> MachineIdPaths() {
    std::lock_guard lock(g_pathMutex);
    if (!g_machineIdPathOverride.empty()) {
        return {g_machineIdPathOverride};
    }
    return {std::string(kSystemMachineIdPath), std::string(kDbusMachineIdPath)};
}

std::optional<std::string> ReadMachineIdFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string id(kMaxMachineIdSize + 1, '\0');
    in.read(id.data(), static_cast<std::streamsize>(id.size()));
    id.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad() || id.size() > kMaxMachineIdSize) {
        return std::nullopt;
    }
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) {
        id.pop_back();
    }
    if (id.empty()) {
        return std::nullopt;
    }
    return id;
}

// Some containers have an empty /etc/machine-id but keep the older D-Bus copy.
std::optional<std::string> ReadMachineId() {
    for (const std::string& path : MachineIdPaths()) {
        if (std::optional<std::string> id = ReadMachineIdFile(path)) {
            return id;
        }
    }
    return std::nullopt;
}

// The key wipes itself, so it does not linger in freed memory.
class Key {
public:
    Key() = default;
    ~Key() { OPENSSL_cleanse(m_bytes.data(), m_bytes.size()); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    unsigned char* Data() { return m_bytes.data(); }

private:
    std::array<unsigned char, kKeySize> m_bytes{};
};

struct KdfFree {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
};
struct KdfCtxFree {
    void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

OSSL_PARAM OctetParam(const char* name, std::string_view bytes) {
    return OSSL_PARAM_construct_octet_string(name, const_cast<char*>(bytes.data()), bytes.size());
}

// HKDF-SHA256 of this computer's machine id.
bool DeriveMachineKey(Key& key) {
    const std::optional<std::string> machineId = ReadMachineId();
    if (!machineId) {
        return false;
    }
    const std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    if (!kdf) {
        return false;
    }
    const std::unique_ptr<EVP_KDF_CTX, KdfCtxFree> ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) {
        return false;
    }
    char digestName[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digestName, 0),
        OctetParam(OSSL_KDF_PARAM_KEY, *machineId),
        OctetParam(OSSL_KDF_PARAM_SALT, kSalt),
        OctetParam(OSSL_KDF_PARAM_INFO, kInfo),
        OSSL_PARAM_construct_end(),
    };
    return EVP_KDF_derive(ctx.get(), key.Data(), kKeySize, params) == 1;
}

const unsigned char* Bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

unsigned char* Bytes(std::string& text) {
    return reinterpret_cast<unsigned char*>(text.data());
}

// AES-256-GCM from `input` to `output` (of the same size), with the magic as associated data.
// Encrypting fills `tag`; decrypting succeeds only when `tag` authenticates the input.
bool RunGcm(bool encrypt, Key& key, const unsigned char* nonce, const unsigned char* input,
            std::size_t size, unsigned char* output, unsigned char* tag) {
    const int enc = encrypt ? 1 : 0;
    const CipherCtx ctx(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, enc) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kNonceSize),
                            nullptr) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.Data(), nonce, enc) != 1 ||
        EVP_CipherUpdate(ctx.get(), nullptr, &length, Bytes(kMagic),
                         static_cast<int>(kMagic.size())) != 1) {
        return false;
    }
    if (size > 0 &&
        EVP_CipherUpdate(ctx.get(), output, &length, input, static_cast<int>(size)) != 1) {
        return false;
    }
    if (!encrypt && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize),
                                        tag) != 1) {
        return false;
    }
    if (EVP_CipherFinal_ex(ctx.get(), output + size, &length) != 1) {
        return false;
    }
    return !encrypt || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG,
                                           static_cast<int>(kTagSize), tag) == 1;
}

// Magic, nonce, ciphertext, tag.
std::optional<std::string> Seal(std::string_view plain) {
    if (plain.size() > static_cast<std::size_t>(INT_MAX) - kMagic.size() - kNonceSize - kTagSize) {
        return std::nullopt;
    }
    Key key;
    if (!DeriveMachineKey(key)) {
        return std::nullopt;
    }
    std::string blob(kMagic.size() + kNonceSize + plain.size() + kTagSize, '\0');
    blob.replace(0, kMagic.size(), kMagic);
    unsigned char* nonce = Bytes(blob) + kMagic.size();
    unsigned char* cipher = nonce + kNonceSize;
    if (RAND_bytes(nonce, static_cast<int>(kNonceSize)) != 1 ||
        !RunGcm(true, key, nonce, Bytes(plain), plain.size(), cipher, cipher + plain.size())) {
        return std::nullopt;
    }
    return blob;
}

// The plain bytes of a blob sealed on this computer; nullopt for anything else.
std::optional<std::string> Open(std::string_view blob) {
    if (blob.size() < kMagic.size() + kNonceSize + kTagSize ||
        blob.substr(0, kMagic.size()) != kMagic ||
        blob.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const unsigned char* nonce = Bytes(blob) + kMagic.size();
    const unsigned char* cipher = nonce + kNonceSize;
    const std::size_t cipherSize = blob.size() - kMagic.size() - kNonceSize - kTagSize;
    // The tag control takes a non-const pointer, though it only reads from it.
    std::array<unsigned char, kTagSize> tag{};
    std::copy_n(cipher + cipherSize, kTagSize, tag.begin());

    Key key;
    if (!DeriveMachineKey(key)) {
        return std::nullopt;
    }
    std::string plain(cipherSize, '\0');
    if (!RunGcm(false, key, nonce, cipher, cipherSize, Bytes(plain), tag.data())) {
        OPENSSL_cleanse(plain.data(), plain.size());
        return std::nullopt;
    }
    return plain;
}

} // namespace

std::string ProtectText(std::string_view text) {
    if (std::optional<std::string> blob = Seal(text)) {
        return Base64Encode(*blob);
    }
    return Base64Encode(text);
}

std::string UnprotectText(std::string_view text) {
    std::string bytes = Base64Decode(text);
    if (std::optional<std::string> plain = Open(bytes)) {
        return std::move(*plain);
    }
    return bytes;
}

void SetMachineIdPathForTesting(std::string path) {
    std::lock_guard lock(g_pathMutex);
    g_machineIdPathOverride = std::move(path);
}
