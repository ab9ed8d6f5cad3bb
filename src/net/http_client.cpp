#include "net/http_client.h"

#include "engine/ascii_text.h"
#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/message_texts.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "engine/task_info.h"
#include "log/format_text.h"
#include "net/curl_share.h"
#include "net/http_options.h"
#include "net/transfer_keys.h"
#include "net/user_agent.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <type_traits>

static_assert(std::is_same_v<curl_off_t, std::int64_t>, "OnSeek takes libcurl's offset type");

namespace {

constexpr std::size_t kUploadSlice = 16384;
// Bytes of a streamed body held before the connection is paused until the reader catches up.
constexpr std::size_t kStreamBufferLimit = 1 << 20;
// A reply read whole that grows past this is refused rather than filling the memory.
constexpr std::size_t kWholeReplyLimit = 64u << 20;
constexpr std::size_t kLoggedBodyLimit = 1024;
constexpr long kPollSliceMs = 100;

std::atomic<int> g_requestCounter{0};

std::uint64_t SteadyMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool IsRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string block;
    for (const std::string& line : lines) {
        if (!block.empty()) {
            block += "; ";
        }
        block += line;
    }
    return block;
}

bool EnglishPlatformTexts() {
    return PlatformTextsInEnglish(GetEngineContext().settings.Language());
}

// The installed source of a task's bytes in flight, once any client exists.
void InstallInFlightSource() {
    static const bool installed = [] {
        SetInFlightBytesSource([](const std::string& key) { return InFlightBytes(key); });
        return true;
    }();
    (void)installed;
}

} // namespace

namespace {

// The service hands out addresses with names as they are ("x y.txt"); a URL may not hold a
// blank, a control character or one of "<>\^`{|}, so those go out percent-encoded, the way the
// platform's own HTTP layer escaped them. A "#" would cut off whatever follows it (the token
// query appended to a service address), so it goes out encoded too. Everything else, "%"
// included, is left as it is.
std::string EscapeUnsafeUrlBytes(const std::string& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kUnsafe = "\"#<>\\^`{|}";
    std::string escaped;
    escaped.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || kUnsafe.find(ch) != std::string_view::npos) {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        } else {
            escaped += ch;
        }
    }
    return escaped;
}

// The scheme of an absolute URL in lower case; empty when the text names none.
std::string UrlScheme(std::string_view url) {
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return {};
    }
    const std::string_view scheme = url.substr(0, colon);
    // A letter first, then letters, digits, "+", "-" and ".".
    static constexpr std::string_view kSchemeChars =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.";
    static constexpr std::string_view kLetters = kSchemeChars.substr(0, 52);
    if (kLetters.find(scheme.front()) == std::string_view::npos ||
        scheme.find_first_not_of(kSchemeChars) != std::string_view::npos) {
        return {};
    }
    return AsciiLower(scheme);
}

// Only HTTP and HTTPS are ever spoken: an address from the service may name any scheme, and
// libcurl would speak most of them (gopher:// writes arbitrary bytes to any port).
bool IsAllowedScheme(const std::string& scheme) {
    return scheme == "http" || scheme == "https";
}

} // namespace

CHttpClient::CHttpClient(std::string verb, std::string url, std::string transferKey)
    : m_verb(std::move(verb)), m_url(EscapeUnsafeUrlBytes(url)), m_key(std::move(transferKey)),
      m_errorBuffer(CURL_ERROR_SIZE + 1, '\0') {
    HttpUserAgent();
    InstallInFlightSource();
    if (!m_key.empty()) {
        RegisterKeyedTransfer(this, m_key, &m_cancelled);
    }
}

CHttpClient::~CHttpClient() {
    Close();
    if (!m_key.empty()) {
        UnregisterKeyedTransfer(this, m_key, m_bytesSent);
    }
}

void CHttpClient::SetBody(std::string body) {
    m_bodyStorage = std::move(body);
}

void CHttpClient::SetHeader(const std::string& name, const std::string& value) {
    m_requestHeaders[name] = value;
}

void CHttpClient::SetCookie(const std::string& name, const std::string& value) {
    m_cookies[name] = value;
}

void CHttpClient::SetFollowRedirects(bool follow) {
    m_redirectsDisabled = !follow;
}

void CHttpClient::SetAbortFlag(const std::atomic<bool>* flag) {
    m_abortFlag = flag;
}

std::string CHttpClient::GetLocation() const {
    const auto it = m_responseHeaders.find("location");
    return it == m_responseHeaders.end() ? std::string() : it->second;
}

void CHttpClient::CancelByKey(const std::string& key) {
    CancelTransferKey(key);
}

std::uint64_t CHttpClient::GetInFlightBytes(const std::string& key) {
    return InFlightBytes(key);
}

bool CHttpClient::StopRequested() const {
    return m_cancelled.load() || (m_abortFlag != nullptr && m_abortFlag->load()) ||
           IsHttpShutdown();
}

int CHttpClient::Begin(SendKind kind, bool rawBody) {
    m_kind = kind;
    // A refused scheme or a URL that cannot be split ends here, before anything is sent.
    const std::string scheme = UrlScheme(m_url);
    if (!scheme.empty() && !IsAllowedScheme(scheme)) {
        m_lastError = platform_error::kUnrecognizedScheme;
        m_lastErrorText = PlatformErrorText(m_lastError, EnglishPlatformTexts());
        return m_lastError;
    }
    m_https = scheme == "https";
    CURLU* parsed = curl_url();
    const CURLUcode urlCode = curl_url_set(parsed, CURLUPART_URL, m_url.c_str(), 0);
    curl_url_cleanup(parsed);
    if (urlCode != CURLUE_OK) {
        m_lastError = platform_error::kInvalidUrl;
        m_lastErrorText = PlatformErrorText(m_lastError, EnglishPlatformTexts());
        return m_lastError;
    }
    if (kind != SendKind::kHeadersOnly && m_verb == "POST") {
        const char* type =
            rawBody ? "application/octet-stream" : "application/x-www-form-urlencoded";
        m_requestHeaders["content-type"] =
            FormatText("%s\r\ncontent-length: %d", type, static_cast<int>(m_bodyStorage.size()));
    }

    m_easy = curl_easy_init();
    m_thread = AcquireThreadMulti();
    const HttpTimeouts timeouts = GetHttpTimeouts();
    const TlsOptions tls = GetTlsOptions();
    curl_easy_setopt(m_easy, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(m_easy, CURLOPT_SHARE, SharedCurlHandle());
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, HttpUserAgent().c_str());
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connectMs));
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, m_redirectsDisabled ? 0L : 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, m_https ? "https" : "http,https");
    curl_easy_setopt(m_easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYPEER, tls.insecure ? 0L : 1L);
    curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYHOST, tls.insecure ? 0L : 2L);
    if (!tls.caFile.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_CAINFO, tls.caFile.c_str());
    }
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorBuffer.data());
    // A proxy's answer to CONNECT is not the reply.
    curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CHttpClient::OnHeader);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CHttpClient::OnBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    if (m_verb == "GET") {
        curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
    } else if (m_verb == "POST") {
        curl_easy_setopt(m_easy, CURLOPT_POST, 1L);
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(m_bodyStorage.size()));
        curl_easy_setopt(m_easy, CURLOPT_READFUNCTION, &CHttpClient::OnUpload);
        curl_easy_setopt(m_easy, CURLOPT_READDATA, this);
        curl_easy_setopt(m_easy, CURLOPT_SEEKFUNCTION, &CHttpClient::OnSeek);
        curl_easy_setopt(m_easy, CURLOPT_SEEKDATA, this);
    } else if (m_verb == "HEAD") {
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, m_verb.c_str());
    }

    for (const std::string& line : RequestHeaderLines(m_requestHeaders)) {
        m_headerList = curl_slist_append(m_headerList, line.c_str());
    }
    const std::string cookies = CookieLine(m_cookies);
    if (!cookies.empty()) {
        m_headerList = curl_slist_append(m_headerList, cookies.c_str());
    }
    // No headers of libcurl's own beyond what the exchange needs.
    m_headerList = curl_slist_append(m_headerList, "Expect:");
    m_headerList = curl_slist_append(m_headerList, "Accept:");
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headerList);

    // A named proxy from the settings; otherwise libcurl applies this system's proxy
    // configuration (the proxy environment variables and no_proxy).
    const CEngineSettings& settings = GetEngineContext().settings;
    const std::string proxy = settings.ProxyServer();
    if (!proxy.empty()) {
        CURLcode rc = curl_easy_setopt(m_easy, CURLOPT_PROXY, proxy.c_str());
        const std::string user = settings.ProxyUser();
        if (rc == CURLE_OK && !user.empty()) {
            rc = curl_easy_setopt(m_easy, CURLOPT_PROXYUSERNAME, user.c_str());
            if (rc == CURLE_OK) {
                const std::string password = settings.ProxyPassword();
                rc = curl_easy_setopt(m_easy, CURLOPT_PROXYPASSWORD, password.c_str());
            }
        }
        if (rc != CURLE_OK) {
            EngineLogF(kEngineLogError, "CHttpClient::SetProxy error[ %ld ]",
                       static_cast<long>(MapCurlError(rc)));
        }
    }

    m_quietLimitMs = rawBody ? timeouts.rawBodyReplyMs : timeouts.transferMs;
    // Until the request is out, the wait covers connecting as well.
    m_lastActivity = SteadyMs() + timeouts.connectMs;
    m_sliceStart = EngineNow();
    curl_multi_add_handle(m_thread->multi, m_easy);
    return 0;
}

template <typename Until>
int CHttpClient::Drive(Until until) {
    while (!until() && !m_transferDone) {
        if (StopRequested()) {
            return platform_error::kCancelled;
        }
        int running = 0;
        if (curl_multi_perform(m_thread->multi, &running) != CURLM_OK) {
            return platform_error::kInternalError;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_thread->multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                m_thread->finished[message->easy_handle] = message->data.result;
            }
        }
        // This transfer's end may also have been read while another exchange of the thread
        // drove the handle.
        if (const auto it = m_thread->finished.find(m_easy); it != m_thread->finished.end()) {
            m_transferDone = true;
            m_transferResult = it->second;
            m_thread->finished.erase(it);
        }
        if (until() || m_transferDone) {
            break;
        }
        if (!m_requestSent) {
            long sent = 0;
            if (curl_easy_getinfo(m_easy, CURLINFO_REQUEST_SIZE, &sent) == CURLE_OK && sent > 0) {
                m_requestSent = true;
                m_lastActivity = std::min(m_lastActivity, SteadyMs());
            }
        }
        const std::uint64_t now = SteadyMs();
        if (now > m_lastActivity && now - m_lastActivity > m_quietLimitMs) {
            return platform_error::kTimeout;
        }
        curl_multi_poll(m_thread->multi, nullptr, 0, kPollSliceMs, nullptr);
    }
    return 0;
}

int CHttpClient::TransferCode() const {
    if (!m_transferDone || m_transferResult == CURLE_OK) {
        return 0;
    }
    if (m_tooLarge) {
        return platform_error::kInvalidServerResponse;
    }
    if (m_redirectRefused) {
        return platform_error::kUnrecognizedScheme;
    }
    if (m_transferResult == CURLE_ABORTED_BY_CALLBACK) {
        return platform_error::kCancelled;
    }
    // A request that went out and got an answer that is not HTTP. The drive loop may not have
    // seen the request go when its answer ended the transfer in the same step: ask the handle.
    long sent = 0;
    if (m_transferResult == CURLE_UNSUPPORTED_PROTOCOL &&
        (m_requestSent ||
         (curl_easy_getinfo(m_easy, CURLINFO_REQUEST_SIZE, &sent) == CURLE_OK && sent > 0))) {
        return platform_error::kInvalidServerResponse;
    }
    return MapCurlError(m_transferResult);
}

int CHttpClient::Fail(int code) {
    m_lastError = code;
    if (code == 0) {
        return 0;
    }
    m_lastErrorText = PlatformErrorText(code, EnglishPlatformTexts());
    if (m_transferDone && m_transferResult != CURLE_OK && m_errorBuffer[0] != '\0') {
        // The library's reason, for a refused certificate in particular.
        m_lastErrorText += (m_lastErrorText.empty() ? "" : " ");
        m_lastErrorText += m_errorBuffer.data();
    }
    return code;
}

int CHttpClient::Send(bool rawBody) {
    int result = Begin(SendKind::kWhole, rawBody);
    if (result != 0) {
        return result;
    }
    result = Drive([] { return false; });
    if (result == 0) {
        result = TransferCode();
    }
    Fail(result);
    Close();
    LogExchange(result);
    return result;
}

int CHttpClient::SendForStream() {
    int result = Begin(SendKind::kStream, false);
    if (result != 0) {
        return result;
    }
    result = Drive([this] { return m_headersDone; });
    if (result == 0 && !m_headersDone) {
        result = TransferCode();
        if (result == 0) {
            result = platform_error::kInvalidServerResponse; // ended without a reply
        }
    }
    if (result == 0 && m_status != 200 && m_status != 206) {
        result = Drive([] { return false; });
        if (result == 0) {
            result = TransferCode();
        }
        if (result == 0) {
            result = 20001;
        }
    }
    Fail(result == 20001 ? 0 : result);
    if (result != 0) {
        Close();
    }
    LogExchange(result);
    return result;
}

void CHttpClient::SendWithoutReply() {
    if (Begin(SendKind::kHeadersOnly, false) != 0) {
        return;
    }
    Fail(Drive([this] { return m_headersDone; }));
    Close();
}

int CHttpClient::ReadStreamChunk(std::vector<char>& out) {
    if (m_easy == nullptr) {
        return 0;
    }
    if (m_stream.empty() && m_paused) {
        m_paused = false;
        curl_easy_pause(m_easy, CURLPAUSE_CONT);
    }
    if (m_stream.empty()) {
        const int result = Drive([this] { return !m_stream.empty(); });
        if (result != 0) {
            Fail(result);
            return -1;
        }
    }
    if (!m_stream.empty()) {
        // Handed over without a copy when the caller has nothing left over; the two buffers
        // then take turns.
        if (out.empty()) {
            out.swap(m_stream);
        } else {
            out.insert(out.end(), m_stream.begin(), m_stream.end());
        }
        m_stream.clear();
        return 1;
    }
    const int result = TransferCode();
    if (result != 0) {
        Fail(result);
        return -1;
    }
    return 0;
}

void CHttpClient::CloseStream() {
    Close();
}

void CHttpClient::Close() {
    if (m_thread != nullptr) {
        curl_multi_remove_handle(m_thread->multi, m_easy);
        m_thread->finished.erase(m_easy);
        ReleaseThreadMulti(m_thread);
        m_thread = nullptr;
    }
    if (m_easy != nullptr) {
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
    if (m_headerList != nullptr) {
        curl_slist_free_all(m_headerList);
        m_headerList = nullptr;
    }
    m_stream.clear();
    m_paused = false;
}

void CHttpClient::LogExchange(int result) {
    const int counter = g_requestCounter.fetch_add(1);
    const std::string url = MaskSecrets(m_url);
    std::string request;
    if (m_bodyStorage.empty()) {
        request =
            FormatText("send  request %d: %s %s %s", counter, m_verb.c_str(), url.c_str(), "");
    } else {
        const std::string body = MaskSecrets(m_bodyStorage.substr(0, kLoggedBodyLimit));
        request = FormatText("send  request %d: %s %s [ %s ]", counter, m_verb.c_str(), url.c_str(),
                             body.c_str());
    }
    const std::string headerBlock = JoinLines(RequestHeaderLines(m_requestHeaders));
    std::string shown;
    bool failed = result != 0;
    if (m_kind == SendKind::kStream) {
        shown = m_status == 200 ? headerBlock : m_body;
    } else {
        failed = failed || m_status != 200;
        shown = headerBlock.find("Range") != std::string::npos ? headerBlock
                                                               : m_body.substr(0, kLoggedBodyLimit);
    }
    const std::string response =
        FormatText("server return %d: [ %d ] %s", counter, m_status, MaskSecrets(shown).c_str());
    const int level = failed ? kEngineLogError : kEngineLogInfo;
    if (result != 0) {
        const std::string text = m_lastErrorText.empty() ? GetErrorText(result) : m_lastErrorText;
        EngineLogF(kEngineLogError, "[ eCode:%d ErrMsg:%s ]", result, text.c_str());
    }
    EngineLog(level, request);
    EngineLog(level, response);
}

std::size_t CHttpClient::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* client = static_cast<CHttpClient*>(self);
    const std::string_view line(data, size * count);
    client->m_lastActivity = SteadyMs();
    if (line.starts_with("HTTP/")) {
        client->m_rawHeaders.assign(line); // a new reply (after a redirect or a 100)
        return size * count;
    }
    client->m_rawHeaders.append(line);
    if (line != "\r\n" && line != "\n" && line != "\r") {
        return size * count;
    }
    long status = 0;
    curl_easy_getinfo(client->m_easy, CURLINFO_RESPONSE_CODE, &status);
    if (status / 100 == 1 || status == 0) {
        return size * count; // informational, or a proxy's answer to CONNECT
    }
    HeaderMap headers;
    HeaderMap cookies = client->m_cookies;
    ParseResponseHeaders(client->m_rawHeaders, headers, cookies);
    if (!client->m_redirectsDisabled && IsRedirect(status) && headers.contains("location")) {
        // Followed: the final reply comes next. Never to another scheme, and never from HTTPS
        // back to plain HTTP; a relative address keeps the scheme.
        const std::string scheme = UrlScheme(headers["location"]);
        if (!scheme.empty() &&
            (!IsAllowedScheme(scheme) || (client->m_https && scheme != "https"))) {
            client->m_redirectRefused = true;
            return 0;
        }
        if (!scheme.empty()) {
            client->m_https = scheme == "https";
        }
        return size * count;
    }
    client->m_status = static_cast<int>(status);
    client->m_responseHeaders = std::move(headers);
    client->m_cookies = std::move(cookies);
    client->m_headersDone = true;
    client->m_streaming = client->m_kind == SendKind::kStream && (status == 200 || status == 206);
    return size * count;
}

std::size_t CHttpClient::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* client = static_cast<CHttpClient*>(self);
    const std::size_t length = size * count;
    client->m_lastActivity = SteadyMs();
    if (client->m_kind == SendKind::kHeadersOnly) {
        return length;
    }
    if (client->m_streaming) {
        if (client->m_stream.size() >= kStreamBufferLimit) {
            client->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        client->m_stream.insert(client->m_stream.end(), data, data + length);
        return length;
    }
    if (client->m_body.size() + length > kWholeReplyLimit) {
        client->m_tooLarge = true;
        return 0;
    }
    client->m_body.append(data, length);
    return length;
}

std::size_t CHttpClient::OnUpload(char* data, std::size_t size, std::size_t count, void* self) {
    auto* client = static_cast<CHttpClient*>(self);
    if (client->m_cancelled.load()) {
        return CURL_READFUNC_ABORT;
    }
    const std::size_t left = client->m_bodyStorage.size() - client->m_uploadOffset;
    const std::size_t length = std::min({size * count, kUploadSlice, left});
    std::memcpy(data, client->m_bodyStorage.data() + client->m_uploadOffset, length);
    client->m_uploadOffset += length;
    client->m_lastActivity = SteadyMs();
    // A body sent again after a rewind counts once.
    const std::size_t fresh =
        client->m_uploadOffset > client->m_bytesSent
            ? client->m_uploadOffset - static_cast<std::size_t>(client->m_bytesSent)
            : 0;
    client->m_bytesSent += fresh;
    if (!client->m_key.empty() && fresh > 0) {
        GetEngineContext().speedMeter.RecordSample(client->m_key, client->m_sliceStart,
                                                   static_cast<std::uint32_t>(fresh), true);
        AddInFlightBytes(client->m_key, fresh);
    }
    client->m_sliceStart = EngineNow();
    return length;
}

int CHttpClient::OnSeek(void* self, std::int64_t offset, int origin) {
    auto* client = static_cast<CHttpClient*>(self);
    if (origin != SEEK_SET || offset < 0 ||
        static_cast<std::size_t>(offset) > client->m_bodyStorage.size()) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    client->m_uploadOffset = static_cast<std::size_t>(offset);
    return CURL_SEEKFUNC_OK;
}
