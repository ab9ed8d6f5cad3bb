#include "service_server.h"

#include "connection_server.h"
#include "reply.h"
#include "routes.h"
#include "self_signed_cert.h"
#include "service_state.h"

#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace parvex_service {

namespace {

// Only SO_REUSEADDR: httplib's default adds SO_REUSEPORT, which would let a second server
// share a port that is in use instead of failing.
void ListenSocketOptions(socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

std::string UrlHost(const std::string& bindAddress) {
    if (bindAddress == "0.0.0.0" || bindAddress.empty()) {
        return "127.0.0.1";
    }
    if (bindAddress == "::") {
        return "[::1]";
    }
    if (bindAddress.find(':') != std::string::npos) {
        return "[" + bindAddress + "]";
    }
    return bindAddress;
}

// httplib adds the peer's and its own address as pseudo headers; they were not received.
bool IsPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

} // namespace

struct ServiceServer::Impl {
    explicit Impl(Scenario scenario) : state(std::move(scenario)) {}

    void Handle(const httplib::Request& req, httplib::Response& res);
    RecordedRequest Record(const httplib::Request& req) const;

    ServiceState state;
    RequestLog log;
    SelfSignedCert cert;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int stopFd = -1;

    mutable std::mutex mutex; // guards the members below
    bool running = false;
    int port = 0;
    bool tls = false;
    std::string baseUrl;
    std::string caFile;
    std::string lastError;
};

RecordedRequest ServiceServer::Impl::Record(const httplib::Request& req) const {
    RecordedRequest request;
    request.method = req.method;
    if (const RawHead* head = CurrentRawHead()) {
        request.target = head->target;
        request.headers = head->headers;
    } else {
        request.target = req.target;
        for (const auto& header : req.headers) {
            if (!IsPseudoHeader(header.first)) {
                request.headers.push_back(header);
            }
        }
    }
    const std::size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    if (question != std::string::npos) {
        request.query = request.target.substr(question + 1);
    }
    request.body = req.body;
    return request;
}

void ServiceServer::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
    const RecordedRequest request = Record(req);
    log.Add(request);
    QueryParams query = ParseQuery(request.query);
    const std::uint64_t offset = QueryNumber(query, "offset", 0);
    std::optional<Fault> fault = state.TakeFault(request.method, request.path, offset);
    const Pause pause = [this](int ms) { return state.PauseFor(ms); };
    if (fault) {
        bool proceed = true;
        switch (fault->kind) {
        case FaultKind::Redirect:
            res.status = fault->status;
            res.set_header("Location", fault->location);
            return;
        case FaultKind::IgnoreOffset:
        case FaultKind::RepeatPage: {
            // The last "offset" parameter is the one the routes read.
            const auto page = static_cast<std::uint64_t>(state.GetScenario().options.pageSize);
            const bool repeat = fault->kind == FaultKind::RepeatPage && offset >= page;
            query.emplace_back("offset", std::to_string(repeat ? offset - page : 0));
            fault.reset();
            break;
        }
        case FaultKind::BareLfHeaders:
            SetReplyLineEnd(LineEnd::Lf);
            fault.reset();
            break;
        case FaultKind::BareCrHeaders:
            SetReplyLineEnd(LineEnd::Cr);
            fault.reset();
            break;
        case FaultKind::Hang:
            proceed = state.WaitWhileHanging();
            fault.reset();
            break;
        case FaultKind::DelayHeaders:
            proceed = state.PauseFor(fault->delayMs);
            fault.reset();
            break;
        case FaultKind::Status:
            res.status = fault->status;
            if (!fault->body.empty()) {
                res.set_content(fault->body, fault->contentType.c_str());
            }
            return;
        case FaultKind::ErrorObject: {
            Reply reply =
                ErrorReply(fault->state, fault->code, fault->message, state.NextRequestId());
            reply.status = fault->status;
            Emit(std::move(reply), nullptr, pause, res);
            return;
        }
        default:
            break;
        }
        if (!proceed) {
            Emit(ErrorReply(503, "service stopping", "The service is stopping",
                            state.NextRequestId()),
                 nullptr, pause, res);
            return;
        }
    }
    const Fault* active = fault ? &*fault : nullptr;
    Reply reply = Route(state, RouteInput{request, std::move(query), active});
    if (active != nullptr) {
        switch (active->kind) {
        case FaultKind::NotJson:
            reply.generated = false;
            reply.contentType = "text/html; charset=utf-8";
            reply.body = "<html><body><h1>502 Bad Gateway</h1></body></html>";
            break;
        case FaultKind::EmptyBody:
            reply.generated = false;
            reply.body.clear();
            break;
        case FaultKind::TruncatedJson:
            if (!reply.generated) {
                reply.body.resize(reply.body.size() / 2);
            }
            break;
        default:
            break;
        }
    }
    Emit(std::move(reply), active, pause, res);
}

ServiceServer::ServiceServer(Scenario scenario)
    : m_impl(std::make_unique<Impl>(std::move(scenario))) {}

ServiceServer::~ServiceServer() {
    Stop();
}

bool ServiceServer::Start(int port, bool tls) {
    StartOptions options;
    options.port = port;
    options.tls = tls;
    return Start(options);
}

bool ServiceServer::Start(const StartOptions& options) {
    Impl& impl = *m_impl;
    auto fail = [&impl](std::string message) {
        std::lock_guard<std::mutex> lock(impl.mutex);
        impl.lastError = std::move(message);
        return false;
    };
    if (IsRunning()) {
        return fail("the service is already running");
    }
    std::string error;
    if (!impl.state.Key().Generate(error)) {
        return fail(error);
    }
    if (options.tls && !impl.cert.Create(error)) {
        return fail(error);
    }
    impl.state.SetStopping(false);
    impl.stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl.stopFd < 0) {
        return fail(std::string("eventfd failed: ") + std::strerror(errno));
    }
    ConnectionSettings settings;
    settings.stopFd = impl.stopFd;
    std::unique_ptr<httplib::Server> server;
    if (options.tls) {
        auto tlsServer = std::make_unique<ConnectionServer<httplib::SSLServer>>(
            settings, impl.cert.Certificate(), impl.cert.PrivateKey());
        tlsServer->WarmUp();
        server = std::move(tlsServer);
    } else {
        auto plainServer = std::make_unique<ConnectionServer<httplib::Server>>(settings);
        plainServer->WarmUp();
        server = std::move(plainServer);
    }
    auto discard = [&impl] {
        ::close(impl.stopFd);
        impl.stopFd = -1;
    };
    if (!server->is_valid()) {
        discard();
        return fail("the TLS context could not be set up");
    }
    const int threads = impl.state.GetScenario().options.threads;
    server->new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<std::size_t>(threads));
    };
    server->set_socket_options(ListenSocketOptions);
    server->set_keep_alive_max_count(static_cast<std::size_t>(settings.keepAliveMax));
    auto handler = [&impl](const httplib::Request& req, httplib::Response& res) {
        impl.Handle(req, res);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Patch(".*", handler);
    server->Delete(".*", handler);
    server->Options(".*", handler);

    errno = 0;
    int bound = -1;
    if (options.port == 0) {
        bound = server->bind_to_any_port(options.bindAddress);
    } else if (server->bind_to_port(options.bindAddress, options.port)) {
        bound = options.port;
    }
    if (bound <= 0) {
        const int code = errno;
        discard();
        return fail("cannot listen on " + options.bindAddress + ":" + std::to_string(options.port) +
                    ": " + (code != 0 ? std::strerror(code) : "the address cannot be bound"));
    }
    const std::string baseUrl = std::string(options.tls ? "https://" : "http://") +
                                UrlHost(options.bindAddress) + ":" + std::to_string(bound);
    impl.state.SetBaseUrl(baseUrl);
    httplib::Server* raw = server.get();
    impl.server = std::move(server);
    impl.listener = std::thread([raw] { raw->listen_after_bind(); });
    // stop() is ignored until the loop runs, so Stop could otherwise miss it.
    for (int i = 0; i < 5000 && !raw->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard<std::mutex> lock(impl.mutex);
    impl.running = true;
    impl.port = bound;
    impl.tls = options.tls;
    impl.baseUrl = baseUrl;
    impl.caFile = options.tls ? impl.cert.CaFile() : std::string();
    impl.lastError.clear();
    return true;
}

void ServiceServer::Stop() {
    Impl& impl = *m_impl;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        if (!impl.running) {
            return;
        }
        impl.running = false;
    }
    impl.state.SetStopping(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(impl.stopFd, &one, sizeof(one));
    impl.server->stop();
    impl.listener.join();
    impl.server.reset();
    ::close(impl.stopFd);
    impl.stopFd = -1;
}

bool ServiceServer::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->running;
}

std::string ServiceServer::LastError() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->lastError;
}

int ServiceServer::Port() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->port;
}

std::string ServiceServer::BaseUrl() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->baseUrl;
}

std::string ServiceServer::CaFile() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->caFile;
}

std::vector<RecordedRequest> ServiceServer::Requests() const {
    return m_impl->log.All();
}

void ServiceServer::ClearRequests() {
    m_impl->log.Clear();
}

void ServiceServer::AddFault(Fault fault) {
    m_impl->state.AddFault(std::move(fault));
}

void ServiceServer::ClearFaults() {
    m_impl->state.ClearFaults();
}

void ServiceServer::SetRemainingCount(const std::string& code, int count) {
    m_impl->state.SetRemaining(code, count);
}

void ServiceServer::SetLoginOnly(const std::string& code, bool loginOnly) {
    m_impl->state.SetLoginOnly(code, loginOnly);
}

void ServiceServer::ResetConvertedPolls() {
    m_impl->state.ResetConvertedPolls();
}

std::string ServiceServer::Token(const std::string& code) const {
    return m_impl->state.Token(code);
}

void ServiceServer::ExpireTokens() {
    m_impl->state.ExpireTokens();
}

std::optional<std::string> ServiceServer::LastDecryptedPassword(const std::string& code) const {
    return m_impl->state.LastDecrypted(code);
}

std::string ServiceServer::PublicKeyPem() const {
    return m_impl->state.Key().PublicKeyPem();
}

const Scenario& ServiceServer::GetScenario() const {
    return m_impl->state.GetScenario();
}

} // namespace parvex_service
