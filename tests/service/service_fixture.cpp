#include "service_fixture.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>

namespace service_testing {

const char* const kScenario = R"({
  "links": [
    {"code": "L1", "password": "pa ss+w/ö", "remaining": 3, "item": {
      "name": "Reports", "children": [
        {"name": "a.bin", "size": 3000000},
        {"name": "sub dir", "children": [{"name": "x y.txt", "size": 1000},
                                         {"name": "中文.txt", "size": 10}]},
        {"name": "many", "generate": {"count": 250, "size": 10, "prefix": "f"}},
        {"name": "hundred", "generate": {"count": 100, "size": 1}},
        {"name": "slides.pptx", "size": 5000, "converted": {"size": 7000, "polls": 2}},
        {"name": "paper.pdf", "size": 4000, "watermark": {"size": 4100}},
        {"name": "empty.txt", "size": 0}
      ]}},
    {"code": "F1", "login_only": true, "item": {"name": "single.iso", "size": 1048577}}
  ],
  "short_addresses": [
    {"path": "/s/ok", "code": "L1"},
    {"path": "/s/gone", "error": {"code": "20005", "msg": "removed"}}
  ],
  "storage": {"uid": "u-7", "account_id": "a-9", "items": [
    {"name": "docs", "children": [
      {"name": "plan.txt", "size": 700, "rev": "5",
       "revisions": [{"rev": "5", "size": 700}, {"rev": "4", "size": 650, "user": "ann"}]}]}
  ]}
})";

parvex_service::Scenario ParseOrFail(const std::string& json) {
    parvex_service::Scenario scenario;
    std::string error;
    EXPECT_TRUE(parvex_service::ParseScenario(json, scenario, error)) << error;
    return scenario;
}

void ServiceTest::StartService(const std::string& json, bool tls) {
    m_server = std::make_unique<parvex_service::ServiceServer>(ParseOrFail(json));
    ASSERT_TRUE(m_server->Start(0, tls)) << m_server->LastError();
}

void ServiceTest::TearDown() {
    if (m_server) {
        m_server->Stop();
    }
}

std::unique_ptr<httplib::Client> ServiceTest::Client() const {
    auto client = std::make_unique<httplib::Client>(m_server->BaseUrl());
    client->set_read_timeout(30, 0);
    if (!m_server->CaFile().empty()) {
        client->set_ca_cert_path(m_server->CaFile().c_str());
        client->enable_server_certificate_verification(true);
    }
    return client;
}

std::string ServiceTest::WithToken(const std::string& path, const std::string& code) const {
    return path + (path.find('?') == std::string::npos ? "?" : "&") +
           "token=" + m_server->Token(code);
}

std::string RawExchange(int port, const std::string& request) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{10, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::recv(sock, buffer, sizeof(buffer), 0)) > 0) {
            response.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(sock);
    return response;
}

std::string RawResponse::Header(const std::string& lowerCaseName) const {
    for (const auto& header : headers) {
        if (header.first == lowerCaseName) {
            return header.second;
        }
    }
    return std::string();
}

RawResponse ParseRawResponse(const std::string& text) {
    RawResponse response;
    const std::size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string::npos || text.compare(0, 9, "HTTP/1.1 ") != 0) {
        return response;
    }
    response.status = std::stoi(text.substr(9, 3));
    std::size_t begin = text.find("\r\n") + 2;
    while (begin < headEnd) {
        const std::size_t end = text.find("\r\n", begin);
        const std::string line = text.substr(begin, end - begin);
        const std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const std::size_t value = line.find_first_not_of(' ', colon + 1);
        response.headers.emplace_back(name, value == std::string::npos ? "" : line.substr(value));
        begin = end + 2;
    }
    response.body = text.substr(headEnd + 4);
    return response;
}

RawResponse RawGet(int port, const std::string& target, const std::string& extraHeaders) {
    return ParseRawResponse(RawExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                                  extraHeaders + "Connection: close\r\n\r\n"));
}

std::string EncryptPassword(const std::string& publicKeyPem, const std::string& text) {
    BIO* bio = BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (key == nullptr) {
        ADD_FAILURE() << "unreadable public key";
        return std::string();
    }
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    std::string cipher(static_cast<std::size_t>(EVP_PKEY_get_size(key)), '\0');
    std::size_t length = cipher.size();
    const bool ok =
        EVP_PKEY_encrypt_init(ctx) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &length,
                         reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    EXPECT_TRUE(ok);
    cipher.resize(length);
    std::string base64(4 * ((cipher.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()),
                                        reinterpret_cast<const unsigned char*>(cipher.data()),
                                        static_cast<int>(cipher.size()));
    base64.resize(static_cast<std::size_t>(written));
    return base64;
}

} // namespace service_testing
