#include "engine/platform_error.h"

#include "engine/bilingual_text.h"

#include <cerrno>
#include <cstring>
#include <curl/curl.h>

using namespace platform_error;

namespace {

constexpr BilingualText kTexts[] = {
    {kFileNotFound, "The system cannot find the file specified.", "系统找不到指定的文件。"},
    {kPathNotFound, "The system cannot find the path specified.", "系统找不到指定的路径。"},
    {kAccessDenied, "Access is denied.", "拒绝访问。"},
    {kGeneralFailure, "The operation failed because of a system error.",
     "由于系统错误，操作失败。"},
    {kSharingViolation, "The file is being used by another process.", "文件正在被另一个进程使用。"},
    {kNameTooLong, "Filename is too long!", "文件名太长。"},
    {kDiskFull, "There is not enough space on the disk.", "磁盘空间不足。"},
    {kAlreadyExists, "The file already exists.", "文件已存在。"},
    {kCancelled, "The operation was cancelled.", "操作已取消。"},
    {kTimeout, "The operation timed out.", "操作超时。"},
    {kInternalError, "An internal error occurred in the network connection.",
     "网络连接发生内部错误。"},
    {kInvalidUrl, "The URL is invalid.", "URL 无效。"},
    {kUnrecognizedScheme, "The URL uses a protocol that is not supported.",
     "URL 使用了不支持的协议。"},
    {kNameNotResolved, "The server name could not be resolved.", "无法解析服务器名称。"},
    {kCannotConnect, "A connection with the server could not be established.",
     "无法与服务器建立连接。"},
    {kConnectionAborted, "The connection with the server was terminated abnormally.",
     "与服务器的连接异常终止。"},
    {kInvalidServerResponse, "The server response could not be parsed.", "无法解析服务器的响应。"},
    {kRedirectFailed, "The redirection failed: the server redirected too many times.",
     "重定向失败：服务器重定向次数过多。"},
    {kSecureFailure,
     "A secure connection to the server could not be established (certificate or TLS failure).",
     "无法与服务器建立安全连接（证书或 TLS 错误）。"},
};

// Both strerror_r variants, so the text comes out whichever one the C library declares.
[[maybe_unused]] const char* StrerrorResult(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* StrerrorResult(const char* result, const char*) {
    return result;
}

std::string SystemErrorText(int err) {
    char buffer[256] = {};
    const char* text = StrerrorResult(::strerror_r(err, buffer, sizeof(buffer)), buffer);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(err);
}

} // namespace

int MapCurlError(int curlCode) {
    switch (curlCode) {
    case CURLE_OK:
        return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        return kTimeout;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
#if LIBCURL_VERSION_NUM >= 0x074200
    case CURLE_HTTP3:
#endif
        return kConnectionAborted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
#if LIBCURL_VERSION_NUM >= 0x074D00
    case CURLE_SSL_CLIENTCERT:
#endif
        return kSecureFailure;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return kUnrecognizedScheme;
    case CURLE_URL_MALFORMAT:
        return kInvalidUrl;
    case CURLE_TOO_MANY_REDIRECTS:
        return kRedirectFailed;
    case CURLE_ABORTED_BY_CALLBACK:
        return kCancelled;
    case CURLE_WEIRD_SERVER_REPLY:
        return kInvalidServerResponse;
    default:
        return kInternalError;
    }
}

int MapErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case ENOENT:
        return kFileNotFound;
    case ENOTDIR:
        return kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return kAccessDenied;
    case EBUSY:
    case ETXTBSY:
        return kSharingViolation;
    case ENOSPC:
    case EDQUOT:
        return kDiskFull;
    case EEXIST:
        return kAlreadyExists;
    case ENAMETOOLONG:
        return kNameTooLong;
    case ECANCELED:
        return kCancelled;
    default:
        return kGeneralFailure;
    }
}

std::string PlatformErrorText(int code, bool english) {
    const BilingualText* row = FindBilingualText(kTexts, code);
    return row != nullptr ? row->In(english) : std::string();
}

std::string ErrnoText(int err, bool english) {
    const int code = MapErrno(err);
    return code == kGeneralFailure ? SystemErrorText(err) : PlatformErrorText(code, english);
}

std::string CurlErrorText(int curlCode, bool english) {
    const int code = MapCurlError(curlCode);
    if (code != kInternalError) {
        return PlatformErrorText(code, english);
    }
    // A number outside the enumeration is not a CURLcode; libcurl names CURL_LAST "unknown".
    const CURLcode result =
        curlCode >= 0 && curlCode < CURL_LAST ? static_cast<CURLcode>(curlCode) : CURL_LAST;
    return curl_easy_strerror(result);
}
