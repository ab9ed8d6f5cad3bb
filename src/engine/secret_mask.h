#pragma once

#include <string>
#include <string_view>

// The text with every access token and password value replaced by "***", for the log: the
// value of a "token=", "password=" or "pass=" parameter (up to "&", "#", a quote, a backslash
// or white space) and of a JSON member whose name ends in "token", "password" or "pass" (a
// task's protected password).
std::string MaskSecrets(std::string_view text);
