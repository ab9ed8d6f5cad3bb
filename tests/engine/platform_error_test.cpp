#include "engine/platform_error.h"
#include "log/wide_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <curl/curl.h>

using namespace platform_error;

TEST(PlatformError, CurlResultsMapToTheirKind) {
    struct Case {
        int curl;
        int expected;
    };
    const Case cases[] = {
        {CURLE_OK, 0},
        {CURLE_COULDNT_RESOLVE_HOST, kNameNotResolved},
        {CURLE_COULDNT_RESOLVE_PROXY, kNameNotResolved},
        {CURLE_COULDNT_CONNECT, kCannotConnect},
        {CURLE_OPERATION_TIMEDOUT, kTimeout},
        {CURLE_RECV_ERROR, kConnectionAborted},
        {CURLE_SEND_ERROR, kConnectionAborted},
        {CURLE_PARTIAL_FILE, kConnectionAborted},
        {CURLE_GOT_NOTHING, kConnectionAborted},
        {CURLE_HTTP2, kConnectionAborted},
        {CURLE_HTTP2_STREAM, kConnectionAborted},
        {CURLE_HTTP3, kConnectionAborted},
        {CURLE_SSL_CONNECT_ERROR, kSecureFailure},
        {CURLE_PEER_FAILED_VERIFICATION, kSecureFailure},
        {CURLE_SSL_CERTPROBLEM, kSecureFailure},
        {CURLE_SSL_CIPHER, kSecureFailure},
        {CURLE_SSL_CACERT_BADFILE, kSecureFailure},
        {CURLE_SSL_ENGINE_NOTFOUND, kSecureFailure},
        {CURLE_SSL_ENGINE_SETFAILED, kSecureFailure},
        {CURLE_SSL_ENGINE_INITFAILED, kSecureFailure},
        {CURLE_SSL_ISSUER_ERROR, kSecureFailure},
        {CURLE_SSL_PINNEDPUBKEYNOTMATCH, kSecureFailure},
        {CURLE_SSL_INVALIDCERTSTATUS, kSecureFailure},
        {CURLE_SSL_CRL_BADFILE, kSecureFailure},
        {CURLE_SSL_SHUTDOWN_FAILED, kSecureFailure},
        {CURLE_USE_SSL_FAILED, kSecureFailure},
        {CURLE_SSL_CLIENTCERT, kSecureFailure},
        {CURLE_UNSUPPORTED_PROTOCOL, kUnrecognizedScheme},
        {CURLE_URL_MALFORMAT, kInvalidUrl},
        {CURLE_TOO_MANY_REDIRECTS, kRedirectFailed},
        {CURLE_ABORTED_BY_CALLBACK, kCancelled},
        {CURLE_WEIRD_SERVER_REPLY, kInvalidServerResponse},
        {CURLE_FAILED_INIT, kInternalError},
        {CURLE_WRITE_ERROR, kInternalError},
        {CURLE_HTTP_RETURNED_ERROR, kInternalError},
        {-1, kInternalError},
        {9999, kInternalError},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapCurlError(c.curl), c.expected) << "CURLcode " << c.curl;
    }
}

TEST(PlatformError, ErrnoValuesMapToFileErrors) {
    struct Case {
        int err;
        int expected;
    };
    const Case cases[] = {
        {0, 0},
        {ENOENT, kFileNotFound},
        {ENOTDIR, kPathNotFound},
        {EACCES, kAccessDenied},
        {EPERM, kAccessDenied},
        {EROFS, kAccessDenied},
        {EBUSY, kSharingViolation},
        {ETXTBSY, kSharingViolation},
        {ENOSPC, kDiskFull},
        {EDQUOT, kDiskFull},
        {EEXIST, kAlreadyExists},
        {ENAMETOOLONG, kNameTooLong},
        {ECANCELED, kCancelled},
        {EIO, kGeneralFailure},
        {EINVAL, kGeneralFailure},
        {-5, kGeneralFailure},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapErrno(c.err), c.expected) << "errno " << c.err;
    }
}

TEST(PlatformError, EveryNumberTheMappingsGiveHasBothTexts) {
    std::vector<int> numbers = {kFileNotFound,
                                kPathNotFound,
                                kAccessDenied,
                                kGeneralFailure,
                                kSharingViolation,
                                kNameTooLong,
                                kDiskFull,
                                kAlreadyExists,
                                kCancelled,
                                kTimeout,
                                kInternalError,
                                kInvalidUrl,
                                kUnrecognizedScheme,
                                kNameNotResolved,
                                kCannotConnect,
                                kConnectionAborted,
                                kInvalidServerResponse,
                                kRedirectFailed,
                                kSecureFailure};
    for (int curl = 1; curl <= CURL_LAST; ++curl) {
        numbers.push_back(MapCurlError(curl));
    }
    for (int err = 1; err < 200; ++err) {
        numbers.push_back(MapErrno(err));
    }
    for (int number : numbers) {
        const std::string english = PlatformErrorText(number, true);
        const std::string chinese = PlatformErrorText(number, false);
        EXPECT_FALSE(english.empty()) << number;
        EXPECT_FALSE(chinese.empty()) << number;
        EXPECT_NE(english, chinese) << number;
        EXPECT_TRUE(IsValidUtf8(chinese)) << number;
    }
    EXPECT_EQ(PlatformErrorText(kNameTooLong, true), "Filename is too long!");
    EXPECT_EQ(PlatformErrorText(kNameTooLong, false), "文件名太长。");
    EXPECT_EQ(PlatformErrorText(0, true), "");
    EXPECT_EQ(PlatformErrorText(12345, false), "");
}

TEST(PlatformError, CatchAllValuesKeepTheLibraryText) {
    EXPECT_EQ(ErrnoText(EIO, true), std::strerror(EIO));
    EXPECT_EQ(ErrnoText(EIO, false), std::strerror(EIO));
    EXPECT_EQ(ErrnoText(ENOENT, false), PlatformErrorText(kFileNotFound, false));
    EXPECT_EQ(ErrnoText(ENAMETOOLONG, true), "Filename is too long!");

    EXPECT_EQ(CurlErrorText(CURLE_FAILED_INIT, true), curl_easy_strerror(CURLE_FAILED_INIT));
    EXPECT_EQ(CurlErrorText(CURLE_WRITE_ERROR, false), curl_easy_strerror(CURLE_WRITE_ERROR));
    EXPECT_FALSE(CurlErrorText(9999, true).empty());
    EXPECT_EQ(CurlErrorText(CURLE_COULDNT_CONNECT, false),
              PlatformErrorText(kCannotConnect, false));
}
