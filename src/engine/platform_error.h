#pragma once

#include <string>

// Platform failures are reported with the numbers the engine's logic and messages were built
// around: network failures with the numbers of their kind below, file failures with the
// classic file error numbers. This is the one place that maps libcurl results and errno.
namespace platform_error {

// File errors.
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kAccessDenied = 5;
inline constexpr int kGeneralFailure = 31;
inline constexpr int kSharingViolation = 32;
inline constexpr int kNameTooLong = 111;
inline constexpr int kDiskFull = 112;
inline constexpr int kAlreadyExists = 183;
inline constexpr int kCancelled = 1223;

// Network errors.
inline constexpr int kTimeout = 12002;
inline constexpr int kInternalError = 12004;
inline constexpr int kInvalidUrl = 12005;
inline constexpr int kUnrecognizedScheme = 12006;
inline constexpr int kNameNotResolved = 12007;
inline constexpr int kCannotConnect = 12029;
inline constexpr int kConnectionAborted = 12030;
inline constexpr int kInvalidServerResponse = 12152;
inline constexpr int kRedirectFailed = 12156;
inline constexpr int kSecureFailure = 12175;

} // namespace platform_error

// A libcurl result (CURLcode as int) to its platform number; 0 for CURLE_OK.
int MapCurlError(int curlCode);

// An errno value to its platform number; 0 for 0.
int MapErrno(int err);

// The message text of a platform number in English or Chinese; empty for a number without a row.
std::string PlatformErrorText(int code, bool english);

// The text for an errno value: the text of its platform number, except that a value mapped to
// the catch-all general failure gives the C library's own text (in its locale). Empty for 0.
std::string ErrnoText(int err, bool english);

// The text for a libcurl result: the text of its platform number, except that a result mapped to
// the catch-all internal error gives libcurl's own (English) text. Empty for CURLE_OK.
std::string CurlErrorText(int curlCode, bool english);
