#pragma once

#include "engine/box_file_info.h"
#include "net/http_client.h"
#include "net/service_records.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One byte range of a file being downloaded, pulled from the service as a stream.
struct DownloadRequest {
    BoxFileInfo file;            // path: an absolute download URL or a storage path
    std::int64_t rangeStart = 0; // first byte
    std::int64_t rangeEnd = 0;   // the worker's exclusive end
    std::vector<char> stream;    // bytes pulled and not yet handed out, from streamOffset on
    std::size_t streamOffset = 0;
    std::unique_ptr<CHttpClient> client;
    int result = 0;
    int status = 0;
    std::string replyText;                        // the error body of a refused request
    const std::atomic<bool>* abortFlag = nullptr; // the worker's stop request
    std::string ifRange;   // the file's validator, sent as If-Range; empty: none is sent
    std::string validator; // the reply's: its strong ETag, else Last-Modified; empty: none usable
};

// The URL a file is fetched from: an absolute URL with the link's token query appended (never
// to a watermark URL), the names of a link item's path percent-encoded (another address's first
// "%" only), or the service's download router for a storage path.
std::string DownloadUrlFor(const BoxFileInfo& file, bool syncTask);
// A synchronisation task's group id: 38 characters in braces.
bool IsSyncGroup(const std::string& groupId);

// Sends the range request and keeps the connection for reading. True only for a reply that
// delivers exactly the asked range: a 206 whose Content-Range starts at the range start (and
// names the file's size when it names a total), or a 200 for a range that starts at 0. Any
// other 200 or 206 fails with 20109 before a byte is handed out. A 200 to an If-Range whose
// validator is another (or none) says the file changed: 20112, with the new validator, unless
// it names another size than the file's (20109). The validator is untrusted text: one that
// IsUsableValidator refuses counts as none, and a weak ETag, which If-Range cannot match, gives
// way to Last-Modified.
bool OpenRange(DownloadRequest& request, bool syncTask);
// Copies up to `wanted` bytes: their count, 0 when the body ended, -1 on a failure (the
// platform number is then the result).
int ReadSome(DownloadRequest& request, char* destination, std::size_t wanted);
// The result code of a refused range request, from its status and error body.
int GetRangeError(const DownloadRequest& request, ServiceReply& reply);
void CloseRange(DownloadRequest& request);

// Parses a fetched link listing (the item and its children) and turns converted documents and
// watermarked files into plain download URLs with their sizes. A watermarked folder gives
// 20103 and ends the walk. Waits between attempts end early on `stop` or the shutdown.
int ResolveDeliveryListing(DeliveryListing& listing, const std::atomic<bool>* stop = nullptr);

// The length a GET of the URL announces; -1 when unknown.
std::int64_t ProbeRemoteSize(const std::string& url);
