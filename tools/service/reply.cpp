#include "reply.h"

#include "file_content.h"
#include "url_text.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>

namespace parvex_service {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive
};

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

enum class RangeKind { None, Satisfiable, Unsatisfiable };

// The first range of a "bytes=" header against `total` bytes. A header that does not parse is
// ignored, as HTTP asks.
RangeKind ResolveRange(std::string_view header, std::uint64_t total, ByteRange& range) {
    const std::size_t begin = header.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return RangeKind::None;
    }
    header = header.substr(begin, header.find_last_not_of(" \t\r\n") - begin + 1);
    if (header.substr(0, 6) != "bytes=") {
        return RangeKind::None;
    }
    std::string_view firstRange = header.substr(6);
    firstRange = firstRange.substr(0, firstRange.find(','));
    while (!firstRange.empty() && (firstRange.back() == ' ' || firstRange.back() == '\t')) {
        firstRange.remove_suffix(1);
    }
    const std::size_t dash = firstRange.find('-');
    if (dash == std::string_view::npos) {
        return RangeKind::None;
    }
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    const bool hasFirst = ParseNumber(firstRange.substr(0, dash), first);
    const bool hasLast = ParseNumber(firstRange.substr(dash + 1), last);
    if ((!hasFirst && dash != 0) || (!hasLast && dash + 1 != firstRange.size())) {
        return RangeKind::None;
    }
    if (!hasFirst) { // suffix: the last N bytes
        if (!hasLast) {
            return RangeKind::None;
        }
        if (last == 0 || total == 0) {
            return RangeKind::Unsatisfiable;
        }
        range.first = total - std::min(last, total);
        range.last = total - 1;
        return RangeKind::Satisfiable;
    }
    if (hasLast && last < first) {
        return RangeKind::None;
    }
    if (first >= total) {
        return RangeKind::Unsatisfiable;
    }
    range.first = first;
    range.last = hasLast ? std::min(last, total - 1) : total - 1;
    return RangeKind::Satisfiable;
}

} // namespace

Reply JsonReply(std::string body, int status) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

Reply ErrorReply(int status, const std::string& code, const std::string& message,
                 const std::string& requestId) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("type");
    writer.String("error");
    writer.Key("state");
    writer.Int(status);
    writer.Key("code");
    writer.String(code.c_str(), static_cast<rapidjson::SizeType>(code.size()));
    writer.Key("message");
    writer.String(message.c_str(), static_cast<rapidjson::SizeType>(message.size()));
    writer.Key("request_id");
    writer.String(requestId.c_str(), static_cast<rapidjson::SizeType>(requestId.size()));
    writer.EndObject();
    return JsonReply(buffer.GetString(), status);
}

Reply ContentReply(std::uint64_t seed, std::uint64_t total, const RecordedRequest& request,
                   const Fault* fault, const std::string& requestId,
                   const std::string& contentType) {
    auto is = [fault](FaultKind kind) { return fault != nullptr && fault->kind == kind; };
    if (is(FaultKind::NewContent)) {
        seed = ReplacedContentSeed(seed);
    }
    const std::string etag = ContentETag(seed);
    const std::string range = request.Header("Range");
    const std::string ifRange = request.Header("If-Range");
    ByteRange byteRange;
    RangeKind rangeKind = RangeKind::None;
    // An empty file has no byte to range over: it is answered whole (and empty). A range of
    // another version than this one is no range of this one.
    if (!is(FaultKind::IgnoreRange) && total > 0 && (ifRange.empty() || ifRange == etag)) {
        rangeKind = ResolveRange(range, total, byteRange);
    }
    if (rangeKind == RangeKind::Unsatisfiable) {
        Reply reply = ErrorReply(416, "range not satisfiable",
                                 "The range " + range + " lies beyond the file", requestId);
        reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(total));
        return reply;
    }
    Reply reply;
    reply.contentType = contentType;
    reply.headers.emplace_back("Accept-Ranges", "bytes");
    reply.headers.emplace_back("ETag", etag);
    reply.generated = true;
    reply.seed = seed;
    if (rangeKind == RangeKind::None) {
        reply.contentLength = total;
        return reply;
    }
    reply.status = 206;
    reply.contentOffset = byteRange.first;
    reply.contentLength = byteRange.last - byteRange.first + 1;
    auto first = static_cast<std::int64_t>(byteRange.first);
    auto last = static_cast<std::int64_t>(byteRange.last);
    auto size = static_cast<std::int64_t>(total);
    if (is(FaultKind::WrongContentRange)) {
        first += fault->shift;
        last += fault->shift;
        size += fault->totalShift;
    }
    reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                    std::to_string(last) + "/" +
                                                    std::to_string(size));
    if (is(FaultKind::Empty206)) {
        reply.generated = false;
        reply.contentLength = 0;
        reply.contentType.clear();
    }
    return reply;
}

void Emit(Reply reply, const Fault* fault, const Pause& pause, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& header : reply.headers) {
        res.set_header(header.first.c_str(), header.second);
    }
    auto is = [fault](FaultKind kind) { return fault != nullptr && fault->kind == kind; };
    if (is(FaultKind::RewriteBody) && !reply.generated) {
        ReplaceAll(reply.body, fault->from, fault->to);
    }
    const bool disturbed =
        is(FaultKind::CutAfterBytes) || is(FaultKind::LyingLength) || is(FaultKind::SlowBody);
    if (!disturbed && !reply.generated) {
        if (!reply.body.empty()) {
            res.set_content(std::move(reply.body), reply.contentType.c_str());
        }
        return;
    }
    // What is announced, where the body stops, and how it is paced.
    const std::uint64_t length = reply.generated ? reply.contentLength : reply.body.size();
    std::uint64_t announced = length;
    std::uint64_t stop = length;
    std::size_t chunk = kChunk;
    int delayMs = 0;
    if (is(FaultKind::CutAfterBytes)) {
        stop = std::min(stop, fault->bytes);
    } else if (is(FaultKind::LyingLength)) {
        announced += std::max<std::uint64_t>(fault->bytes, 1);
    } else if (is(FaultKind::SlowBody)) {
        chunk = static_cast<std::size_t>(std::clamp<std::uint64_t>(fault->bytes, 1, kChunk));
        delayMs = fault->delayMs;
    }
    if (announced == 0) {
        return; // httplib answers Content-Length: 0
    }
    auto body = std::make_shared<std::string>(std::move(reply.body));
    auto buffer = std::make_shared<std::string>();
    const bool generated = reply.generated;
    const std::uint64_t seed = reply.seed;
    const std::uint64_t first = reply.contentOffset;
    // `offset` counts the bytes sent; returning false closes the connection.
    auto provider = [=](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (offset >= stop || (delayMs > 0 && !pause(delayMs))) {
            return false;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, stop - offset));
        if (!generated) {
            return sink.write(body->data() + offset, n);
        }
        buffer->resize(n);
        FillContent(seed, first + offset, buffer->data(), n);
        return sink.write(buffer->data(), n);
    };
    res.set_content_provider(static_cast<std::size_t>(announced), reply.contentType,
                             std::move(provider));
}

} // namespace parvex_service
