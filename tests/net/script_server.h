#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A loopback HTTP server whose replies are written by the test byte for byte, so replies that
// no proper server sends (lying lengths, cut bodies, silence) can be produced. Every connection
// runs on its own thread and may carry several requests.
class ScriptServer {
public:
    struct Request {
        std::string requestLine;              // "GET /path HTTP/1.1"
        std::vector<std::string> headerLines; // as received, in order
        std::string body;
        // The value of the first header of that name (any letter case); empty when absent.
        std::string Header(std::string_view name) const;
    };

    class Connection {
    public:
        explicit Connection(int fd, const std::atomic<bool>& stopping)
            : m_fd(fd), m_stopping(stopping) {}
        bool Write(std::string_view bytes);
        // Waits until the server stops or the time passes; true when it stops.
        bool WaitForStop(std::chrono::milliseconds most);
        // A whole reply: status line, the headers (plus Content-Length) and the body.
        bool Reply(int status, std::string_view body, std::vector<std::string> headers = {});
        // Answers a CONNECT and relays bytes both ways to a loopback port until either side
        // closes or the server stops (a proxy's tunnel).
        void Tunnel(int port);

    private:
        int m_fd;
        const std::atomic<bool>& m_stopping;
    };

    // Answers one request; false closes the connection afterwards.
    using Handler = std::function<bool(const Request&, Connection&)>;

    explicit ScriptServer(Handler handler);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    int Port() const { return m_port; }
    std::string Url(std::string_view path = "/") const;
    std::vector<Request> Requests() const;
    int ConnectionCount() const { return m_connections.load(); }

private:
    void AcceptLoop();
    void Serve(int fd);

    Handler m_handler;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    std::vector<int> m_openFds;
    std::vector<Request> m_requests;
};
