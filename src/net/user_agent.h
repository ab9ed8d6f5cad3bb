#pragma once

#include <string>

// "TovuClientWin_<program version>_<operating system>", built once for the process.
const std::string& HttpUserAgent();
