#pragma once

#include "net/http_headers.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

typedef void CURL;
struct curl_slist;
struct ThreadMulti;

// One HTTP or HTTPS exchange, used once by one thread: prepare (body, headers, cookies,
// redirect choice), send with one of the three send operations, read, destroy.
//
// - Send reads the whole reply into memory (service calls).
// - SendForStream stops after the headers of a 200 or 206 reply; the body is then pulled with
//   ReadStreamChunk until it ends, and CloseStream ends the exchange (part downloads).
// - SendWithoutReply waits for the reply's headers and reads nothing (statistics).
//
// A client is sent, read and closed on one thread: its exchange runs on that thread's
// connection cache, so the exchanges of one thread reuse their connections.
//
// Failures are platform numbers (platform_error.h): 12002 time-out, 12029 no connection,
// 12030 connection cut, 12175 certificate refused, 1223 cancelled, ... Every wait is sliced so
// a stop request (the abort flag, the shutdown) is seen within about 100 ms.
class CHttpClient {
public:
    CHttpClient(std::string verb, std::string url, std::string transferKey = {});
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    void SetBody(std::string body);
    void SetHeader(const std::string& name, const std::string& value);
    void SetCookie(const std::string& name, const std::string& value);
    void SetFollowRedirects(bool follow);
    // A flag another thread sets to end this exchange at its next check (a worker's stop).
    void SetAbortFlag(const std::atomic<bool>* flag);

    // 0 when the exchange completed, whatever its status; else the platform number. A raw body
    // is sent as octet-stream and its reply waited for longer.
    int Send(bool rawBody = false);
    // 0 for a 200 or 206 reply, with the body left to read; 20001 for any other status (the
    // body is then read and readable); else the platform number.
    int SendForStream();
    void SendWithoutReply();
    // Appends what the connection has to out: 1 when bytes were appended, 0 when the body
    // ended, -1 on a failure (LastError tells which). Waits for data, the end of the body, a
    // failure, the time-out or a stop request.
    int ReadStreamChunk(std::vector<char>& out);
    void CloseStream();

    int GetStatus() const { return m_status; }
    std::string GetBodyText() const { return m_body; }
    const std::string& GetBodyBytes() const { return m_body; }
    std::string GetLocation() const;
    const HeaderMap& ResponseHeaders() const { return m_responseHeaders; }
    const HeaderMap& Cookies() const { return m_cookies; }
    const std::string& RawResponseHeaders() const { return m_rawHeaders; }
    // The platform number of the last failure and its text (with the TLS library's reason for
    // a refused certificate).
    int LastError() const { return m_lastError; }
    const std::string& LastErrorText() const { return m_lastErrorText; }

    // Cancels every live exchange of a transfer key (an upload paused or stopped).
    static void CancelByKey(const std::string& key);
    // Body bytes sent by the live exchanges of a key.
    static std::uint64_t GetInFlightBytes(const std::string& key);

private:
    enum class SendKind { kWhole, kStream, kHeadersOnly };

    int Begin(SendKind kind, bool rawBody);
    // Runs the transfer until `until` holds or it ends: 0, or the platform number of a
    // time-out or a stop.
    template <typename Until>
    int Drive(Until until);
    // The platform number of an ended transfer's failure; 0 while it runs or after success.
    int TransferCode() const;
    // Records a failure (number and text) and returns its number.
    int Fail(int code);
    void Close();
    void LogExchange(int result);
    bool StopRequested() const;

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnUpload(char* data, std::size_t size, std::size_t count, void* self);
    static int OnSeek(void* self, std::int64_t offset, int origin);

    std::string m_verb;
    std::string m_url;
    std::string m_key;
    std::string m_bodyStorage;
    HeaderMap m_requestHeaders;
    HeaderMap m_cookies;
    HeaderMap m_responseHeaders;
    std::string m_rawHeaders;
    std::string m_body;
    int m_status = 0;
    bool m_redirectsDisabled = true;
    std::uint64_t m_bytesSent = 0;
    std::atomic<bool> m_cancelled{false};
    const std::atomic<bool>* m_abortFlag = nullptr;

    CURL* m_easy = nullptr;
    ThreadMulti* m_thread = nullptr; // the sending thread's multi handle while an exchange runs
    curl_slist* m_headerList = nullptr;
    SendKind m_kind = SendKind::kWhole;
    std::size_t m_uploadOffset = 0;
    bool m_headersDone = false;
    bool m_transferDone = false;
    int m_transferResult = 0;
    bool m_requestSent = false;
    bool m_streaming = false; // the body goes to m_stream for ReadStreamChunk
    std::vector<char> m_stream;
    bool m_paused = false;
    bool m_tooLarge = false;
    bool m_https = false;           // the scheme of the address being fetched
    bool m_redirectRefused = false; // a redirect to a refused scheme ended the exchange
    std::uint64_t m_sliceStart = 0;
    std::uint64_t m_lastActivity = 0;
    std::uint64_t m_quietLimitMs = 0;
    int m_lastError = 0;
    std::string m_lastErrorText;
    std::vector<char> m_errorBuffer;
};
