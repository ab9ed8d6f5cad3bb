#pragma once

#include "fault.h"
#include "request_log.h"

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace parvex_service {

// A reply before it is written: a text body, or a range of generated content.
struct Reply {
    int status = 200;
    std::string contentType = "application/json; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool generated = false;
    std::uint64_t seed = 0;
    std::uint64_t contentOffset = 0; // first byte of the content sent
    std::uint64_t contentLength = 0; // bytes sent
};

Reply JsonReply(std::string body, int status = 200);

// The service's error object: {"type":"error","state":...,"code":...,"message":...,
// "request_id":...}, with `status` as HTTP status and as "state".
Reply ErrorReply(int status, const std::string& code, const std::string& message,
                 const std::string& requestId);

// `total` bytes of content with `seed` and its ETag, answered to the request's Range header
// (standard semantics: inclusive end, clamped to the end; 416 when nothing is left), which an
// If-Range naming another ETag turns into the whole content. Empty206, IgnoreRange,
// WrongContentRange and NewContent faults apply here.
Reply ContentReply(std::uint64_t seed, std::uint64_t total, const RecordedRequest& request,
                   const Fault* fault, const std::string& requestId,
                   const std::string& contentType = "application/octet-stream");

// Waits up to the given time; false when the server stops meanwhile.
using Pause = std::function<bool(int ms)>;

// Writes the reply to httplib's response. CutAfterBytes, LyingLength and SlowBody faults apply
// here; generated content is streamed in chunks, never held whole.
void Emit(Reply reply, const Fault* fault, const Pause& pause, httplib::Response& res);

} // namespace parvex_service
