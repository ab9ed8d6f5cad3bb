#include "self_signed_cert.h"

#include "openssl_error.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace parvex_service {

namespace {

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (extension == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

} // namespace

SelfSignedCert::~SelfSignedCert() {
    Reset();
}

void SelfSignedCert::Reset() {
    X509_free(m_cert);
    EVP_PKEY_free(m_key);
    m_cert = nullptr;
    m_key = nullptr;
    if (!m_caFile.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_caFile, ec);
        m_caFile.clear();
    }
}

bool SelfSignedCert::Create(std::string& error) {
    Reset();
    m_key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    m_cert = X509_new();
    if (m_key == nullptr || m_cert == nullptr) {
        error = OpenSslError("making the certificate key failed");
        return false;
    }
    unsigned char serial[16];
    std::unique_ptr<BIGNUM, decltype(&BN_free)> number(nullptr, &BN_free);
    if (RAND_bytes(serial, sizeof(serial)) == 1) {
        serial[0] &= 0x7F; // a positive serial number
        number.reset(BN_bin2bn(serial, sizeof(serial), nullptr));
    }
    X509_NAME* name = X509_get_subject_name(m_cert);
    const bool ok =
        number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(m_cert)) != nullptr &&
        X509_set_version(m_cert, X509_VERSION_3) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(m_cert), -24L * 3600) != nullptr &&
        X509_time_adj_ex(X509_getm_notAfter(m_cert), 3652, 0, nullptr) != nullptr &&
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Parvex test service"),
                                   -1, -1, 0) == 1 &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                                   0) == 1 &&
        X509_set_issuer_name(m_cert, name) == 1 && X509_set_pubkey(m_cert, m_key) == 1 &&
        AddExtension(m_cert, NID_basic_constraints, "critical,CA:TRUE") &&
        AddExtension(m_cert, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
        AddExtension(m_cert, NID_ext_key_usage, "serverAuth") &&
        AddExtension(m_cert, NID_subject_key_identifier, "hash") &&
        AddExtension(m_cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
        X509_sign(m_cert, m_key, EVP_sha256()) > 0;
    if (!ok) {
        error = OpenSslError("making the certificate failed");
        return false;
    }
    std::string path =
        (std::filesystem::temp_directory_path() / "parvex-service-ca-XXXXXX.pem").string();
    const int fd = ::mkstemps(path.data(), 4);
    if (fd < 0) {
        error = "cannot create the CA file in " + std::filesystem::temp_directory_path().string();
        return false;
    }
    m_caFile = path;
    FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        error = "cannot write the CA file " + path;
        return false;
    }
    const bool written = PEM_write_X509(file, m_cert) == 1;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write the CA file " + path;
        return false;
    }
    return true;
}

} // namespace parvex_service
