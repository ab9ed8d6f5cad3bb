#include "connection_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace parvex_service {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

thread_local const RawHead* t_currentHead = nullptr;
thread_local LineEnd t_replyLineEnd = LineEnd::CrLf;

enum class Wait { Ready, Timeout, Stopped };

// Waits until `fd` is ready for `events`, the stop descriptor fires or `timeout` passes.
Wait WaitFor(int fd, int stopFd, short events, milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, left > 0 ? static_cast<int>(left) : 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || (stopFd >= 0 && fds[1].revents != 0)) {
            return Wait::Stopped;
        }
        if (n == 0) {
            return Wait::Timeout;
        }
        return Wait::Ready; // ready, or an error the next read or write reports
    }
}

// The stream httplib reads requests from and writes replies to: a non-blocking socket, with
// TLS when an SSL object is given, whose waits all end when the server stops.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int sock, SSL* ssl, const ConnectionSettings& settings)
        : m_sock(sock), m_ssl(ssl), m_settings(settings) {}

    // Takes the next request head (through its blank line) out of the input. False when the
    // peer closed, nothing came within the keep-alive time, the head is too long or the
    // server stops.
    bool ReadHead(std::string& head) {
        m_inject.clear();
        m_injectPos = 0;
        if (Pending() == 0 && !Fill(m_settings.keepAliveTimeout)) {
            return false;
        }
        std::size_t searched = m_bufferPos;
        for (;;) {
            const std::size_t end = m_buffer.find("\r\n\r\n", searched);
            if (end != std::string::npos) {
                head.assign(m_buffer, m_bufferPos, end + 4 - m_bufferPos);
                m_bufferPos = end + 4;
                return true;
            }
            if (Pending() > kMaxHead) {
                return false;
            }
            searched = m_buffer.size() >= 3 ? m_buffer.size() - 3 : 0;
            searched = std::max(searched, m_bufferPos);
            if (!Fill(m_settings.ioTimeout)) {
                return false;
            }
        }
    }

    // Bytes httplib reads before the rest of the input: the normalised head.
    void Inject(std::string bytes) {
        m_inject = std::move(bytes);
        m_injectPos = 0;
    }

    bool is_readable() const override {
        if (m_injectPos < m_inject.size() || Pending() > 0 ||
            (m_ssl != nullptr && SSL_pending(m_ssl) > 0)) {
            return true;
        }
        return WaitFor(m_sock, m_settings.stopFd, POLLIN, m_settings.ioTimeout) == Wait::Ready;
    }

    bool is_writable() const override {
        return WaitFor(m_sock, m_settings.stopFd, POLLOUT, m_settings.ioTimeout) == Wait::Ready;
    }

    ssize_t read(char* ptr, size_t size) override {
        if (m_injectPos < m_inject.size()) {
            const std::size_t n = std::min(size, m_inject.size() - m_injectPos);
            std::memcpy(ptr, m_inject.data() + m_injectPos, n);
            m_injectPos += n;
            return static_cast<ssize_t>(n);
        }
        if (Pending() == 0 && !Fill(m_settings.ioTimeout)) {
            return m_eof ? 0 : -1;
        }
        const std::size_t n = std::min(size, Pending());
        std::memcpy(ptr, m_buffer.data() + m_bufferPos, n);
        m_bufferPos += n;
        return static_cast<ssize_t>(n);
    }

    // The next reply's head is written with the line ends then asked for.
    void BeginReply() {
        m_headDone = false;
        m_headLineLength = 0;
        m_headCr = false;
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (t_replyLineEnd != LineEnd::CrLf && !m_headDone) {
            return WriteHead(ptr, size);
        }
        return Send(ptr, size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        Address(::getpeername, ip, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        Address(::getsockname, ip, port);
    }

    socket_t socket() const override { return m_sock; }

private:
    std::size_t Pending() const { return m_buffer.size() - m_bufferPos; }

    // Writes what `ptr` holds of the head with every CR LF turned into the asked line end, all
    // of it before returning; returns the bytes of `ptr` taken, up to the head's end.
    ssize_t WriteHead(const char* ptr, size_t size) {
        const char end = t_replyLineEnd == LineEnd::Lf ? '\n' : '\r';
        std::string out;
        std::size_t taken = 0;
        while (taken < size && !m_headDone) {
            const char c = ptr[taken++];
            if (m_headCr && c == '\n') {
                out.push_back(end);
                m_headDone = m_headLineLength == 0; // the blank line
                m_headLineLength = 0;
                m_headCr = false;
                continue;
            }
            if (m_headCr) {
                out.push_back('\r');
                ++m_headLineLength;
            }
            m_headCr = c == '\r';
            if (!m_headCr) {
                out.push_back(c);
                ++m_headLineLength;
            }
        }
        for (std::size_t sent = 0; sent < out.size();) {
            const ssize_t n = Send(out.data() + sent, out.size() - sent);
            if (n <= 0) {
                return -1;
            }
            sent += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(taken);
    }

    ssize_t Send(const char* ptr, size_t size) {
        const Clock::time_point deadline = Clock::now() + m_settings.ioTimeout;
        for (;;) {
            short want = POLLOUT;
            if (m_ssl != nullptr) {
                const int n =
                    SSL_write(m_ssl, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
                if (n > 0) {
                    return n;
                }
                const int error = SSL_get_error(m_ssl, n);
                if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                    ERR_clear_error();
                    return -1;
                }
                want = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
            } else {
                const ssize_t n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
                if (n >= 0) {
                    return n;
                }
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    return -1;
                }
            }
            if (!WaitUntil(want, deadline)) {
                return -1;
            }
        }
    }

    bool WaitUntil(short events, Clock::time_point deadline) const {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        return left.count() > 0 && WaitFor(m_sock, m_settings.stopFd, events, left) == Wait::Ready;
    }

    // Appends what the connection has to the buffer, waiting up to `timeout` for something.
    bool Fill(milliseconds timeout) {
        if (m_bufferPos > 0 && m_bufferPos == m_buffer.size()) {
            m_buffer.clear();
            m_bufferPos = 0;
        } else if (m_bufferPos > kReadChunk) {
            m_buffer.erase(0, m_bufferPos);
            m_bufferPos = 0;
        }
        const Clock::time_point deadline = Clock::now() + timeout;
        char chunk[kReadChunk];
        for (;;) {
            short want = POLLIN;
            if (m_ssl != nullptr) {
                const int n = SSL_read(m_ssl, chunk, sizeof(chunk));
                if (n > 0) {
                    m_buffer.append(chunk, static_cast<std::size_t>(n));
                    return true;
                }
                const int error = SSL_get_error(m_ssl, n);
                if (error == SSL_ERROR_ZERO_RETURN) {
                    m_eof = true;
                    return false;
                }
                if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                    ERR_clear_error();
                    m_eof = error == SSL_ERROR_SYSCALL;
                    return false;
                }
                want = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
            } else {
                const ssize_t n = ::recv(m_sock, chunk, sizeof(chunk), 0);
                if (n > 0) {
                    m_buffer.append(chunk, static_cast<std::size_t>(n));
                    return true;
                }
                if (n == 0) {
                    m_eof = true;
                    return false;
                }
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    return false;
                }
            }
            if (!WaitUntil(want, deadline)) {
                return false;
            }
        }
    }

    void Address(int (*query)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof(address);
        ip.clear();
        port = -1;
        if (query(m_sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        char text[INET6_ADDRSTRLEN] = {};
        if (address.ss_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
            port = ntohs(in->sin_port);
        } else if (address.ss_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
            ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
            port = ntohs(in6->sin6_port);
        }
        ip = text;
    }

    int m_sock;
    SSL* m_ssl;
    const ConnectionSettings& m_settings;
    std::string m_buffer;
    std::size_t m_bufferPos = 0;
    bool m_eof = false;
    std::string m_inject;
    std::size_t m_injectPos = 0;
    bool m_headDone = false;
    std::size_t m_headLineLength = 0;
    bool m_headCr = false;
};

bool Handshake(int sock, SSL* ssl, const ConnectionSettings& settings) {
    const Clock::time_point deadline = Clock::now() + settings.ioTimeout;
    for (;;) {
        const int n = SSL_accept(ssl);
        if (n == 1) {
            return true;
        }
        const int error = SSL_get_error(ssl, n);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        const short want = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        if (left.count() <= 0 || WaitFor(sock, settings.stopFd, want, left) != Wait::Ready) {
            return false;
        }
    }
}

// Sets t_currentHead for the life of one request, whose reply starts with CR LF line ends.
class CurrentHeadScope {
public:
    explicit CurrentHeadScope(const RawHead* head) {
        t_currentHead = head;
        t_replyLineEnd = LineEnd::CrLf;
    }
    ~CurrentHeadScope() {
        t_currentHead = nullptr;
        t_replyLineEnd = LineEnd::CrLf;
    }
    CurrentHeadScope(const CurrentHeadScope&) = delete;
    CurrentHeadScope& operator=(const CurrentHeadScope&) = delete;
};

} // namespace

const RawHead* CurrentRawHead() {
    return t_currentHead;
}

void SetReplyLineEnd(LineEnd lineEnd) {
    t_replyLineEnd = lineEnd;
}

ssize_t MemoryStream::read(char* ptr, size_t size) {
    const std::size_t n = std::min(size, m_input.size() - m_pos);
    std::memcpy(ptr, m_input.data() + m_pos, n);
    m_pos += n;
    return static_cast<ssize_t>(n);
}

void MemoryStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    ip = "127.0.0.1";
    port = 0;
}

void MemoryStream::get_local_ip_and_port(std::string& ip, int& port) const {
    ip = "127.0.0.1";
    port = 0;
}

void ServeConnection(int sock, SSL_CTX* ctx, const ConnectionSettings& settings,
                     const ProcessRequest& process) {
    const int flags = ::fcntl(sock, F_GETFL, 0);
    ::fcntl(sock, F_SETFL, flags | O_NONBLOCK);
    // Replies are written as a header block and a body: without this, small replies wait for
    // the peer's delayed acknowledgement.
    int yes = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));

    SSL* ssl = nullptr;
    bool ready = true;
    if (ctx != nullptr) {
        ssl = SSL_new(ctx);
        ready = ssl != nullptr && SSL_set_fd(ssl, sock) == 1;
        if (ready) {
            SSL_set_mode(ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            ready = Handshake(sock, ssl, settings);
        }
    }
    if (ready) {
        ConnectionStream stream(sock, ssl, settings);
        for (int left = settings.keepAliveMax; left > 0; --left) {
            std::string headText;
            if (!stream.ReadHead(headText)) {
                break;
            }
            const RawHead head = ParseHead(headText);
            stream.Inject(NormaliseHead(headText));
            stream.BeginReply();
            CurrentHeadScope scope(&head);
            bool closed = false;
            if (!process(stream, left == 1, closed) || closed) {
                break;
            }
        }
    }
    if (ssl != nullptr) {
        if (ready) {
            SSL_shutdown(ssl); // one attempt: the peer may be gone
        }
        SSL_free(ssl);
        ERR_clear_error();
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

} // namespace parvex_service
