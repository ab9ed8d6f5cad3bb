#include "net/http_client.h"

#include "engine/engine_context.h"
#include "engine/platform_error.h"
#include "net/http_options.h"
#include "net/net_fixture.h"
#include "net/script_server.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr int kCancelled = platform_error::kCancelled;

std::string Pattern(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
    }
    return body;
}

class HttpClientTest : public NetTest {
protected:
    // Reads a whole streamed body.
    static int ReadAll(CHttpClient& client, std::string& body) {
        std::vector<char> chunk;
        int rc = 0;
        while ((rc = client.ReadStreamChunk(chunk)) == 1) {
            body.append(chunk.begin(), chunk.end());
            chunk.clear();
        }
        return rc;
    }
};

TEST_F(HttpClientTest, RequestCarriesTheDescribedHeaderLinesAndCookies) {
    ScriptServer server([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, "{}");
    });
    CHttpClient post("POST", server.Url("/v2/delivery/auth/CODE"));
    post.SetBody("password=x%2b");
    post.SetHeader("x-two", "first\r\nx-extra: second");
    post.SetHeader("x-trailing", "value\n");
    post.SetCookie("language", "en");
    post.SetCookie("X-VARNOK-SESS-ID", "sess");
    ASSERT_EQ(post.Send(), 0);
    CHttpClient empty("POST", server.Url("/empty"));
    ASSERT_EQ(empty.Send(), 0);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine, "POST /v2/delivery/auth/CODE HTTP/1.1");
    EXPECT_EQ(requests[0].body, "password=x%2b");
    const std::vector<std::string>& lines = requests[0].headerLines;
    for (const char* expected :
         {"content-type:application/x-www-form-urlencoded", "content-length: 13", "x-two:first",
          "x-extra: second", "x-trailing:value", "Cookie: X-VARNOK-SESS-ID=sess;language=en"}) {
        EXPECT_THAT(lines, Contains(expected));
    }
    EXPECT_THAT(requests[0].Header("User-Agent"), StartsWith("TovuClientWin_1.0.0.0_"));
    EXPECT_EQ(requests[0].Header("Accept"), "");
    EXPECT_THAT(requests[1].headerLines, Contains("content-length: 0"));
}

TEST_F(HttpClientTest, ResponseHeadersCookiesAndRedirects) {
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("GET /moved")) {
            return c.Reply(302, "", {"Location:  /final  ", "Set-Cookie: a=1; Path=/; b = 2 "});
        }
        return c.Reply(200, "done", {"X-Odd:  v "});
    });
    CHttpClient stay("GET", server.Url("/moved"));
    ASSERT_EQ(stay.Send(), 0);
    EXPECT_EQ(stay.GetStatus(), 302);
    EXPECT_EQ(stay.GetLocation(), "/final");
    EXPECT_EQ(stay.Cookies(), (HeaderMap{{"Path", "/"}, {"a", "1"}, {"b", "2"}}));

    CHttpClient follow("GET", server.Url("/moved"));
    follow.SetFollowRedirects(true);
    ASSERT_EQ(follow.Send(), 0);
    EXPECT_EQ(follow.GetStatus(), 200);
    EXPECT_EQ(follow.GetBodyText(), "done");
    EXPECT_EQ(follow.ResponseHeaders().at("x-odd"), "v");
    EXPECT_EQ(server.Requests().back().requestLine, "GET /final HTTP/1.1");
}

TEST_F(HttpClientTest, StreamedBodyArrivesWholeAndOtherStatusesAreRead) {
    const std::string body = Pattern(5 << 20); // more than the client buffers at once
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("GET /missing")) {
            return c.Reply(404, "{\"type\":\"error\",\"code\":\"x\"}");
        }
        return c.Reply(206, body, {"Content-Range: bytes 0-5242879/5242880"});
    });
    CHttpClient stream("GET", server.Url("/file"));
    stream.SetHeader("Range", "bytes=0-5242880\n");
    ASSERT_EQ(stream.SendForStream(), 0);
    EXPECT_EQ(stream.GetStatus(), 206);
    std::string received;
    EXPECT_EQ(ReadAll(stream, received), 0);
    stream.CloseStream();
    EXPECT_TRUE(received == body);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=0-5242880");

    CHttpClient missing("GET", server.Url("/missing"));
    EXPECT_EQ(missing.SendForStream(), 20001);
    EXPECT_EQ(missing.GetStatus(), 404);
    EXPECT_EQ(missing.GetBodyText(), "{\"type\":\"error\",\"code\":\"x\"}");
    std::vector<char> chunk;
    EXPECT_EQ(missing.ReadStreamChunk(chunk), 0); // nothing stays open
}

// Replies that break off, lie or never come end with their platform number in time.
TEST_F(HttpClientTest, BrokenRepliesFailWithTheirPlatformNumbers) {
    ScriptServer server([](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        const std::string& line = r.requestLine;
        if (line.starts_with("GET /short")) {
            c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
            return false;
        }
        if (line.starts_with("GET /silent")) {
            c.WaitForStop(std::chrono::seconds(30));
            return false;
        }
        if (line.starts_with("GET /stall")) {
            c.Write("HTTP/1.1 206 OK\r\nContent-Length: 100\r\n\r\nfirst bytes");
            c.WaitForStop(std::chrono::seconds(30));
            return false;
        }
        c.Write("garbage\r\n\r\n");
        return false;
    });
    const struct {
        const char* path;
        bool stream;
        int code;
    } cases[] = {
        {"/short", false, platform_error::kConnectionAborted},
        {"/silent", false, platform_error::kTimeout},
        {"/silent", true, platform_error::kTimeout},
        {"/garbage", false, platform_error::kInvalidServerResponse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        QuietTimeFor(c.code == platform_error::kTimeout, 300);
        CHttpClient client("GET", server.Url(c.path));
        EXPECT_EQ(c.stream ? client.SendForStream() : client.Send(), c.code);
        EXPECT_EQ(client.LastError(), c.code);
    }
    for (const char* path : {"/short", "/stall"}) {
        SCOPED_TRACE(path);
        // The stalled reply's headers must still arrive within the quiet time.
        QuietTimeFor(std::string(path) == "/stall", 1000);
        CHttpClient client("GET", server.Url(path));
        ASSERT_EQ(client.SendForStream(), 0);
        std::string received;
        EXPECT_EQ(ReadAll(client, received), -1);
        EXPECT_EQ(client.LastError(), std::string(path) == "/short"
                                          ? platform_error::kConnectionAborted
                                          : platform_error::kTimeout);
        client.CloseStream();
    }

    CHttpClient refused("GET", "http://127.0.0.1:1/");
    EXPECT_EQ(refused.Send(), platform_error::kCannotConnect);
    m_log.Clear();
    CHttpClient malformed("GET", "http://[bad/");
    EXPECT_EQ(malformed.Send(), platform_error::kInvalidUrl);
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

TEST_F(HttpClientTest, AStopRequestEndsAWaitingRead) {
    SetHttpTimeoutsForTesting({2000, 30000, 30000});
    ScriptServer server([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        c.Write("HTTP/1.1 206 OK\r\nContent-Length: 100\r\n\r\nfirst");
        c.WaitForStop(std::chrono::seconds(30));
        return false;
    });
    for (const bool shutdown : {false, true}) {
        SCOPED_TRACE(shutdown ? "shutdown" : "abort flag");
        std::atomic<bool> abort{false};
        CHttpClient client("GET", server.Url("/f"));
        client.SetAbortFlag(&abort);
        ASSERT_EQ(client.SendForStream(), 0);
        std::vector<char> chunk;
        ASSERT_EQ(client.ReadStreamChunk(chunk), 1);
        auto read = std::async(std::launch::async, [&] { return client.ReadStreamChunk(chunk); });
        if (shutdown) {
            SetHttpShutdown(true);
        } else {
            abort.store(true);
        }
        EXPECT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(read.get(), -1);
        EXPECT_EQ(client.LastError(), kCancelled);
        client.CloseStream();
        SetHttpShutdown(false);
    }
}

TEST_F(HttpClientTest, KeyedUploadsCountInFlightBytesAndCanBeCancelled) {
    ScriptServer server([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, "ok");
    });
    const std::string body = Pattern(40000);
    {
        CHttpClient upload("POST", server.Url("/up"), "TASK");
        upload.SetBody(body);
        ASSERT_EQ(upload.Send(true), 0);
        EXPECT_EQ(CHttpClient::GetInFlightBytes("TASK"), 40000u);
        EXPECT_THAT(server.Requests()[0].headerLines,
                    Contains("content-type:application/octet-stream"));
        EXPECT_EQ(server.Requests()[0].body, body);
    }
    EXPECT_EQ(CHttpClient::GetInFlightBytes("TASK"), 0u);

    CHttpClient cancelled("POST", server.Url("/up"), "TASK2");
    cancelled.SetBody(body);
    CHttpClient::CancelByKey("TASK2");
    EXPECT_EQ(cancelled.Send(), kCancelled);
    EXPECT_EQ(CHttpClient::GetInFlightBytes("TASK2"), 0u);
}

TEST_F(HttpClientTest, ExchangesAreLoggedNumberedAndMasked) {
    ScriptServer server([](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.find("missing") != std::string::npos) {
            return c.Reply(404, "{\"token\":\"abc\"}");
        }
        return c.Reply(200, "{\"token\":\"abc\"}");
    });
    CHttpClient ok("POST", server.Url("/auth?token=SECRET"));
    ok.SetBody("password=p%2b");
    ASSERT_EQ(ok.Send(), 0);
    CHttpClient missing("GET", server.Url("/missing"));
    ASSERT_EQ(missing.Send(), 0);

    const auto info = m_log.Texts(kEngineLogInfo);
    ASSERT_EQ(info.size(), 2u);
    const std::string number = info[0].substr(14, info[0].find(':') - 14);
    EXPECT_EQ(info[0], "send  request " + number + ": POST " + server.Url("/auth?token=***") +
                           " [ password=*** ]");
    EXPECT_EQ(info[1], "server return " + number + ": [ 200 ] {\"token\":\"***\"}");
    const auto errors = m_log.Errors();
    ASSERT_EQ(errors.size(), 2u); // a status other than 200 is logged as an error
    EXPECT_THAT(errors[0], HasSubstr(": GET " + server.Url("/missing") + " "));
    EXPECT_THAT(errors[1], HasSubstr(": [ 404 ] {\"token\":\"***\"}"));
}

TEST_F(HttpClientTest, NamedProxyAndTheProxyEnvironmentAreUsed) {
    ScriptServer proxy([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, "via proxy");
    });
    {
        testing_support::ScopedEnv env("http_proxy", proxy.Url(""));
        testing_support::ScopedEnv noProxy("no_proxy", std::nullopt);
        CHttpClient client("GET", "http://service.invalid/v2/x");
        ASSERT_EQ(client.Send(), 0);
        EXPECT_EQ(client.GetBodyText(), "via proxy");
    }
    GetEngineContext().settings.SetOption(kOptionProxyServer, proxy.Url(""));
    GetEngineContext().settings.SetOption(kOptionProxyUser, "user");
    GetEngineContext().settings.SetOption(kOptionProxyPassword, "pw");
    CHttpClient named("GET", "http://service.invalid/v2/y");
    ASSERT_EQ(named.Send(), 0);
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine, "GET http://service.invalid/v2/x HTTP/1.1");
    EXPECT_EQ(requests[1].requestLine, "GET http://service.invalid/v2/y HTTP/1.1");
    EXPECT_EQ(requests[1].Header("Proxy-Authorization"), "Basic dXNlcjpwdw==");
    EXPECT_THAT(m_log.Errors(), IsEmpty());
}

TEST_F(HttpClientTest, ClientsToOneHostShareConnections) {
    ScriptServer server([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, "x");
    });
    for (int i = 0; i < 3; ++i) {
        CHttpClient client("GET", server.Url("/again"));
        ASSERT_EQ(client.Send(), 0);
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
}

// A reused connection that the server dropped is retried on a new one, body and all.
TEST_F(HttpClientTest, APostIsSentAgainOnAFreshConnection) {
    std::atomic<int> served{0};
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("POST") && served.fetch_add(1) == 0) {
            return false; // the first POST finds the connection gone
        }
        return c.Reply(200, r.body.empty() ? "got" : r.body);
    });
    CHttpClient first("GET", server.Url("/warm"));
    ASSERT_EQ(first.Send(), 0);
    CHttpClient post("POST", server.Url("/again"), "KEY");
    post.SetBody("password=abc");
    ASSERT_EQ(post.Send(), 0);
    EXPECT_EQ(post.GetBodyText(), "password=abc");
    EXPECT_EQ(CHttpClient::GetInFlightBytes("KEY"), 12u);
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreSpokenRedirectsIncluded) {
    // A listener that must never see a connection: the refused schemes point at it.
    ScriptServer target([](const ScriptServer::Request&, ScriptServer::Connection& c) {
        return c.Reply(200, "{}");
    });
    const std::string port = target.Url("").substr(target.Url("").rfind(':') + 1);
    ScriptServer server([&](const ScriptServer::Request& r, ScriptServer::Connection& c) {
        if (r.requestLine.starts_with("GET /to-gopher")) {
            return c.Reply(302, "", {"Location: gopher://127.0.0.1:" + port + "/_SET%20x"});
        }
        if (r.requestLine.starts_with("GET /to-file")) {
            return c.Reply(301, "", {"Location: FILE:///etc/passwd"});
        }
        if (r.requestLine.starts_with("GET /to-relative")) {
            return c.Reply(302, "", {"Location: /final"});
        }
        return c.Reply(200, "{}");
    });
    for (const std::string& url :
         {"gopher://127.0.0.1:" + port + "/_SET%20x%201%0D%0A", std::string("file:///etc/passwd"),
          "ftp://127.0.0.1:" + port + "/x", "dict://127.0.0.1:" + port + "/x"}) {
        SCOPED_TRACE(url);
        CHttpClient client("GET", url);
        EXPECT_EQ(client.Send(), platform_error::kUnrecognizedScheme);
        CHttpClient stream("GET", url);
        EXPECT_EQ(stream.SendForStream(), platform_error::kUnrecognizedScheme);
    }
    for (const char* path : {"/to-gopher", "/to-file"}) {
        SCOPED_TRACE(path);
        CHttpClient client("GET", server.Url(path));
        client.SetFollowRedirects(true);
        EXPECT_EQ(client.SendForStream(), platform_error::kUnrecognizedScheme);
    }
    CHttpClient relative("GET", server.Url("/to-relative"));
    relative.SetFollowRedirects(true);
    EXPECT_EQ(relative.Send(), 0);
    EXPECT_EQ(relative.GetStatus(), 200);
    // Not followed, a redirect's target is only read.
    CHttpClient unfollowed("GET", server.Url("/to-gopher"));
    EXPECT_EQ(unfollowed.Send(), 0);
    EXPECT_THAT(unfollowed.GetLocation(), StartsWith("gopher://"));
    EXPECT_THAT(target.Requests(), IsEmpty());
}

TEST(HttpHeadersTest, ResponseLinesEndInCrLfLfOrCr) {
    for (const char* end : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(end)));
        const std::string e(end);
        const std::string raw = "HTTP/1.1 206 Partial" + e + "Content-Range: bytes 0-9/20" + e +
                                "Set-Cookie: s=1; Path=/" + e + "X-Last:  v " + e + e;
        HeaderMap headers;
        HeaderMap cookies;
        ParseResponseHeaders(raw, headers, cookies);
        EXPECT_EQ(headers["content-range"], "bytes 0-9/20");
        EXPECT_EQ(headers["x-last"], "v");
        EXPECT_EQ(cookies["s"], "1");
        EXPECT_EQ(headers.size(), 3u);
    }
}

TEST(HttpHeadersTest, LinesOfAHeaderMap) {
    EXPECT_THAT(RequestHeaderLines({{"a", "1\r\nb: 2\r\n"}, {"c", "3\n"}, {"d", "x\ry"}}),
                ElementsAre("a:1", "b: 2", "c:3", "d:x", "y"));
    EXPECT_EQ(CookieLine({}), "");
    EXPECT_EQ(CookieLine({{"b", "2"}, {"a", "1"}}), "Cookie: a=1;b=2");
}

} // namespace
