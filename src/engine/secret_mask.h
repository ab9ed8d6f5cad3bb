#pragma once

#include <string>
#include <string_view>

// The text with every access token value replaced by "***", for the log: the value of a
// "token=" query parameter (up to "&", "#", a quote, a backslash or white space) and of a JSON
// member named "token" or ending in "token".
std::string MaskSecrets(std::string_view text);
