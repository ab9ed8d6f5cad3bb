#include "net/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Reads until `until` is in the buffer; false when the peer closed or the server stops.
bool ReadUntil(int fd, std::string& buffer, std::size_t wanted, const std::atomic<bool>& stop) {
    char chunk[16384];
    while (buffer.size() < wanted) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 50);
        if (stop.load()) {
            return false;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

std::string ScriptServer::Request::Header(std::string_view name) const {
    const std::string wanted = Lower(name);
    for (const std::string& line : headerLines) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && Lower(line.substr(0, colon)) == wanted) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
    }
    return {};
}

bool ScriptServer::Connection::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ScriptServer::Connection::WaitForStop(std::chrono::milliseconds most) {
    const auto deadline = std::chrono::steady_clock::now() + most;
    while (!m_stopping.load()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pollfd p{m_fd, 0, 0};
        poll(&p, 1, 10);
    }
    return true;
}

bool ScriptServer::Connection::Reply(int status, std::string_view body,
                                     std::vector<std::string> headers) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " X\r\n";
    for (const std::string& header : headers) {
        head += header + "\r\n";
    }
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    return Write(head) && Write(body);
}

void ScriptServer::Connection::Tunnel(int port) {
    const int upstream = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(upstream);
        Write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    Write("HTTP/1.1 200 Connection established\r\n\r\n");
    char chunk[65536];
    pollfd sides[2] = {{m_fd, POLLIN, 0}, {upstream, POLLIN, 0}};
    while (!m_stopping.load()) {
        if (poll(sides, 2, 50) <= 0) {
            continue;
        }
        bool closed = false;
        for (int i = 0; i < 2; ++i) {
            if ((sides[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t n = recv(sides[i].fd, chunk, sizeof chunk, 0);
            if (n <= 0 ||
                send(sides[1 - i].fd, chunk, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) {
                closed = true;
            }
        }
        if (closed) {
            break;
        }
    }
    close(upstream);
}

ScriptServer::ScriptServer(Handler handler) : m_handler(std::move(handler)) {
    m_listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listenFd, 16) != 0) {
        throw std::runtime_error("cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptServer::~ScriptServer() {
    m_stopping.store(true);
    m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    close(m_listenFd);
}

std::string ScriptServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

std::vector<ScriptServer::Request> ScriptServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void ScriptServer::AcceptLoop() {
    while (!m_stopping.load()) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        const int fd = accept(m_listenFd, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        m_connections.fetch_add(1);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.emplace_back([this, fd] { Serve(fd); });
    }
}

void ScriptServer::Serve(int fd) {
    Connection connection(fd, m_stopping);
    std::string buffer;
    for (;;) {
        std::size_t end = std::string::npos;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!ReadUntil(fd, buffer, buffer.size() + 1, m_stopping)) {
                close(fd);
                return;
            }
        }
        Request request;
        const std::string head = buffer.substr(0, end);
        buffer.erase(0, end + 4);
        std::size_t start = 0;
        for (;;) {
            const std::size_t lineEnd = head.find("\r\n", start);
            const std::string line = head.substr(start, lineEnd - start);
            if (request.requestLine.empty()) {
                request.requestLine = line;
            } else {
                request.headerLines.push_back(line);
            }
            if (lineEnd == std::string::npos) {
                break;
            }
            start = lineEnd + 2;
        }
        const std::string length = request.Header("Content-Length");
        const std::size_t bodyLength = length.empty() ? 0 : std::stoul(length);
        if (!ReadUntil(fd, buffer, bodyLength, m_stopping)) {
            close(fd);
            return;
        }
        request.body = buffer.substr(0, bodyLength);
        buffer.erase(0, bodyLength);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        if (!m_handler(request, connection)) {
            close(fd);
            return;
        }
    }
}
