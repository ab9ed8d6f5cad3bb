#pragma once

#include <string>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace parvex_service {

// A self-signed certificate for 127.0.0.1 and localhost (EC P-256, valid from a day ago for ten
// years), made at start so that no key material lives in the repository. Its PEM is written to
// a temporary file, the CA file clients verify the service with; the file is removed with the
// object.
class SelfSignedCert {
public:
    SelfSignedCert() = default;
    ~SelfSignedCert();
    SelfSignedCert(const SelfSignedCert&) = delete;
    SelfSignedCert& operator=(const SelfSignedCert&) = delete;

    bool Create(std::string& error);

    X509* Certificate() const { return m_cert; }
    EVP_PKEY* PrivateKey() const { return m_key; }
    const std::string& CaFile() const { return m_caFile; }

private:
    void Reset();

    X509* m_cert = nullptr;
    EVP_PKEY* m_key = nullptr;
    std::string m_caFile;
};

} // namespace parvex_service
