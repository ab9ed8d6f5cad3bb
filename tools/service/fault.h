#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace parvex_service {

enum class FaultKind {
    CutAfterBytes,     // full Content-Length, then the connection closes after `bytes` body bytes
    Status,            // HTTP `status` with `body` (content type `contentType`)
    ErrorObject,       // an error object with `code`, `state` and `message`, HTTP status `status`
    DelayHeaders,      // waits `delayMs` before answering normally
    SlowBody,          // waits `delayMs` before each chunk of `bytes` (default 16 KiB)
    Empty206,          // 206 with the expected Content-Range and Content-Length 0
    IgnoreRange,       // 200 with the whole body whatever Range asked
    WrongContentRange, // 206 whose Content-Range start is shifted by `shift` and total by
                       // `totalShift`; the bytes sent are those asked for
    LyingLength,       // announces `bytes` more than the body, sends the body, then closes
    NotJson,           // an HTML page instead of the reply
    EmptyBody,         // the reply's status with an empty body
    TruncatedJson,     // the first half of the reply's body
    Hang,              // never answers until the faults are cleared or the server stops
    RewriteBody,       // every `from` in a text reply's body becomes `to` (file content is
                       // never touched)
    Redirect,          // `status` (default 302) with `Location: location` and no body
    IgnoreOffset,      // a folder page is always the first one, whatever "offset" asked
    RepeatPage,        // the folder page asked for at `offset` is the page before it again
    BareLfHeaders,     // the reply's status and header lines end in LF alone
    BareCrHeaders,     // the reply's status and header lines end in CR alone
    NewContent,        // the file was replaced by one of the same size: other content, another
                       // ETag (ReplacedContentSeed); ranges and If-Range are answered as usual
};

// A fault replaces or disturbs the answer to matching requests: those whose raw path starts
// with `pathPrefix`, when `method` is not empty whose method equals it, and when `offset` is
// set whose "offset" parameter (0 when absent) equals it. It applies to the first `count`
// matching requests (0: to all of them until cleared). When several faults match, the one
// added first applies.
struct Fault {
    std::string pathPrefix;
    std::string method;
    int count = 0;
    FaultKind kind = FaultKind::Status;
    std::uint64_t bytes = 0;
    int delayMs = 0;
    int status = 500;
    std::string body;
    std::string contentType = "text/plain";
    std::string code;
    int state = 500;
    std::string message;
    std::int64_t shift = 0;
    std::int64_t totalShift = 0;
    std::string from;
    std::string to;
    std::string location;
    std::optional<std::uint64_t> offset;

    static Fault CutAfter(std::string prefix, std::uint64_t bytes, int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::CutAfterBytes, count);
        f.bytes = bytes;
        return f;
    }
    static Fault HttpStatus(std::string prefix, int status, std::string body = std::string(),
                            int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::Status, count);
        f.status = status;
        f.body = std::move(body);
        return f;
    }
    static Fault Error(std::string prefix, std::string code, std::string message, int status = 400,
                       int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::ErrorObject, count);
        f.status = status;
        f.state = status;
        f.code = std::move(code);
        f.message = std::move(message);
        return f;
    }
    static Fault Delay(std::string prefix, int delayMs, int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::DelayHeaders, count);
        f.delayMs = delayMs;
        return f;
    }
    static Fault SlowBody(std::string prefix, int delayMs, std::uint64_t chunk = 16384,
                          int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::SlowBody, count);
        f.delayMs = delayMs;
        f.bytes = chunk;
        return f;
    }
    static Fault WrongRange(std::string prefix, std::int64_t shift, std::int64_t totalShift,
                            int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::WrongContentRange, count);
        f.shift = shift;
        f.totalShift = totalShift;
        return f;
    }
    static Fault LyingLength(std::string prefix, std::uint64_t extra, int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::LyingLength, count);
        f.bytes = extra;
        return f;
    }
    // A service that names things otherwise, e.g. a child whose name climbs out of its folder.
    static Fault Rewrite(std::string prefix, std::string from, std::string to, int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::RewriteBody, count);
        f.from = std::move(from);
        f.to = std::move(to);
        return f;
    }
    // An address that leads elsewhere: another scheme, host or port.
    static Fault Redirect(std::string prefix, std::string location, int status = 302,
                          int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::Redirect, count);
        f.location = std::move(location);
        f.status = status;
        return f;
    }
    // A folder listing whose page at `offset` brings nothing new.
    static Fault RepeatPage(std::string prefix, std::uint64_t offset, int count = 0) {
        Fault f = Make(std::move(prefix), FaultKind::RepeatPage, count);
        f.offset = offset;
        return f;
    }
    // Empty206, IgnoreRange, NotJson, EmptyBody, TruncatedJson, Hang, IgnoreOffset,
    // BareLfHeaders, BareCrHeaders, NewContent.
    static Fault Make(std::string prefix, FaultKind kind, int count = 0) {
        Fault f;
        f.pathPrefix = std::move(prefix);
        f.kind = kind;
        f.count = count;
        return f;
    }
};

} // namespace parvex_service
