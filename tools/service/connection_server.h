#pragma once

#include "http_head.h"

#include <httplib.h>

#include <chrono>
#include <functional>
#include <type_traits>
#include <utility>

namespace parvex_service {

struct ConnectionSettings {
    int stopFd = -1; // readable once the server stops: every wait ends at once
    std::chrono::milliseconds ioTimeout{5000};
    std::chrono::milliseconds keepAliveTimeout{5000};
    int keepAliveMax = 100;
};

// Serves one accepted connection: the TLS handshake when `ctx` is set, then requests until the
// peer closes, the keep-alive limits end it or the server stops. Each request head is read
// here, kept raw for the handler (CurrentRawHead) and handed to `process` normalised. Closes
// the socket.
using ProcessRequest =
    std::function<bool(httplib::Stream& stream, bool closeConnection, bool& connectionClosed)>;
void ServeConnection(int sock, SSL_CTX* ctx, const ConnectionSettings& settings,
                     const ProcessRequest& process);

// The raw head of the request being handled on this thread, or nullptr outside a request.
const RawHead* CurrentRawHead();

// How the status and header lines of the reply being written on this thread end: CR LF unless
// a fault asks for a careless server's bare LF or bare CR. Every request starts with CR LF.
enum class LineEnd { CrLf, Lf, Cr };
void SetReplyLineEnd(LineEnd lineEnd);

// Requests held in memory: what httplib reads comes from `input`, what it writes is dropped.
class MemoryStream : public httplib::Stream {
public:
    explicit MemoryStream(std::string input) : m_input(std::move(input)) {}
    bool is_readable() const override { return m_pos < m_input.size(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return -1; }

private:
    std::string m_input;
    std::size_t m_pos = 0;
};

// An httplib server (plain or TLS) whose connections are served by ServeConnection rather than
// by httplib's own socket loop, which refuses a second "?" in a target, hides the header order
// and keeps idle connections for seconds after stop().
template <class Base>
class ConnectionServer : public Base {
public:
    template <class... Args>
    explicit ConnectionServer(ConnectionSettings settings, Args&&... args)
        : Base(std::forward<Args>(args)...), m_settings(settings) {}

    // Runs a GET and a form POST through httplib on this thread, before the connection threads
    // exist and before any handler is set. httplib initialises function-local statics on its
    // first request; done here, thread creation orders them before every later reader, which
    // ThreadSanitizer cannot otherwise see in the uninstrumented shared library.
    void WarmUp() {
        MemoryStream stream("GET /?a=1 HTTP/1.1\r\nHost: warm-up\r\n\r\n"
                            "POST / HTTP/1.1\r\nHost: warm-up\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: 3\r\n\r\na=1");
        for (int i = 0; i < 2; ++i) {
            bool closed = false;
            this->process_request(stream, false, closed, [](httplib::Request&) {});
        }
    }

private:
    bool process_and_close_socket(socket_t sock) override {
        SSL_CTX* ctx = nullptr;
        if constexpr (std::is_base_of_v<httplib::SSLServer, Base>) {
            ctx = this->ssl_context();
        }
        ServeConnection(sock, ctx, m_settings,
                        [this](httplib::Stream& stream, bool closeConnection, bool& closed) {
                            return this->process_request(stream, closeConnection, closed,
                                                         [](httplib::Request&) {});
                        });
        return true;
    }

    ConnectionSettings m_settings;
};

} // namespace parvex_service
