#pragma once

#include "net/http_client.h"
#include "net/service_records.h"

#include <rapidjson/document.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>

// How every call to the service is formed and how its reply becomes a result code: 0, a
// platform number when no reply arrived, or one of the service codes below.
namespace service_code {
inline constexpr int kOtherError = 20001;
inline constexpr int kUnusableReply = 20002;
inline constexpr int kSessionInvalid = 20003;
inline constexpr int kNameExists = 20004;
inline constexpr int kNotFound = 20005;
inline constexpr int kForbidden = 20006;
inline constexpr int kPathTooLong = 20007;
inline constexpr int kSpaceLimit = 20008;
inline constexpr int kFileLocked = 20009;
inline constexpr int kWatermarkedFolder = 20103;
} // namespace service_code

inline constexpr int kServiceApiVersion = 2;

using ServiceParams = std::map<std::string, std::string>;

// Per entry in name order "name=value", joined by "&"; values are not encoded.
std::string JoinParams(const ServiceParams& params);
// Every UTF-8 byte except A-Z a-z 0-9 and ! ' ( ) * - . / _ ~ as "%" and two lower-case hex
// digits.
std::string PercentEncode(std::string_view text);
// The language cookie: "zh" for the settings "zh", "cn", "zh-cn" (any case), else "en"; without
// a setting, "zh" only in a Chinese (PRC) locale.
std::string ServiceLanguage();

// A client for "<base>/v2/<path>": GET parameters go into the query, others into the body.
std::unique_ptr<CHttpClient> MakeServiceRequest(const std::string& baseUrl, const std::string& verb,
                                                const std::string& path,
                                                const ServiceParams& params,
                                                const std::string& transferKey = {});
// A client for an absolute URL the service handed out: GET parameters follow "?", or "&" when
// the URL already has a query; others go into the body.
std::unique_ptr<CHttpClient> MakeUrlRequest(const std::string& url, const std::string& verb,
                                            const ServiceParams& params = {});

// The session cookie (when the settings hold a session) and the language cookie.
void AddServiceCookies(CHttpClient& client);
// Adds the service's cookies, sends, stores status and body and judges the reply.
int CallService(CHttpClient& client, ServiceReply& reply);
// 20002 for an empty or non-JSON body; for an error object ("type" is "error") its members are
// stored and its code mapped; anything else is a success whatever the status.
int CheckErrorReply(ServiceReply& reply);
int MapServerError(std::string_view code);

// Parses a reply body; false for text that is not JSON.
bool ParseReply(const std::string& body, rapidjson::Document& document);
// 20002 for an empty body or one that is not JSON, else 0 with the parsed document.
int ParseReplyBody(const ServiceReply& reply, rapidjson::Document& document);
// Stores the members of an error object, the message read from messageKey.
void ReadErrorObject(const rapidjson::Value& object, const char* messageKey, ServiceReply& reply);
