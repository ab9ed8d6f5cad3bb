#pragma once

#include "engine/box_file_info.h"
#include "net/service_records.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The calls the download side makes to the service. Each returns 0, a platform number or a
// service code (service_request.h) and fills its reply.

// Resolves a short link address without following its redirect: a 302 gives the target as
// result text; a 200 with a JSON object is the service's error form ("code" as a number in
// text, "msg").
int ResolveLinkAddress(const std::string& linkAddress, ServiceReply& reply);
// "public_key" as result text.
int GetPublicKey(const std::string& baseUrl, ServiceReply& reply);
// Posts "password=" and the percent-encoded password; "token" as result text.
int AuthenticateDelivery(const std::string& baseUrl, const std::string& deliveryCode,
                         const std::string& password, ServiceReply& reply);
// "isLoginVerify" as result flag.
int IsLoginVerify(const std::string& baseUrl, const std::string& deliveryCode, ServiceReply& reply);
// GET of an absolute URL; the caller reads the body.
int GetJson(const std::string& url, ServiceReply& reply);
// The same with the parameter "offset"; `stop`, when given, ends the exchange when set.
int GetJsonPage(const std::string& url, std::int64_t offset, ServiceReply& reply,
                const std::atomic<bool>* stop = nullptr);
// The length a GET of the URL announces, from its headers; the body is not fetched. size is
// -1 when no length came.
int GetWithContentLength(const std::string& url, ServiceReply& reply, std::int64_t& size);
// One page of a storage folder (the item itself and its children).
int ListFolder(const BoxFileInfo& box, std::int64_t limit, int offset, bool list, BoxListing& reply,
               const std::atomic<bool>* stop = nullptr);
// A whole storage folder in pages of 200 (limit 0 or 200 and more), or one page of a smaller
// limit. A page that repeats the previous one, or more than CFolderWalkGuard::kMaxItems
// children, end it with engine_code::kEndlessListing.
int ListFolderAll(const BoxFileInfo& box, std::int64_t limit, int offset, bool list,
                  BoxListing& reply, const std::atomic<bool>* stop = nullptr);
// The revisions of a storage item, newest first as the service gives them.
int ListRevisions(const BoxFileInfo& box, int revisionLimit, RevisionListing& reply);
// "uid" as result text, "account_id" as second result text.
int GetUserInfo(ServiceReply& reply);
// The capabilities the service at baseUrl offers: the texts of the reply's "support" array.
int GetSupport(const std::string& baseUrl, ServiceReply& reply,
               std::vector<std::string>& capabilities);
