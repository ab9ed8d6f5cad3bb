// The service's public key (everything after the first line) as the link authentication
// rewraps and loads it, and the password (the first line) encrypted with it.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "engine/base64.h"
#include "net/rsa_password.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [passwordField, keyField] = SplitFields<2>(data, size);
    const std::string input(InputText(data, size));
    const std::string password(passwordField);
    const std::string keyText(keyField);

    const PublicKey key = LoadPublicKey(keyText);
    FUZZ_CHECK(key == nullptr || EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA, input);
    // The work on a key text is bounded by the text's bound, not by what the service sent.
    FUZZ_CHECK(key == nullptr || keyText.size() <= kLargestKeyText, input);
    const std::string sent = EncryptPassword(keyText, password);
    if (key == nullptr) {
        FUZZ_CHECK(sent.empty(), input);
        return 0;
    }
    // A ciphertext is one block of the key's size; an empty one only for a key or password
    // that cannot be used.
    if (!sent.empty()) {
        const std::optional<std::string> cipher = Base64DecodeChecked(sent);
        FUZZ_CHECK(cipher && static_cast<int>(cipher->size()) == EVP_PKEY_get_size(key.get()),
                   input);
    }
    return 0;
}
