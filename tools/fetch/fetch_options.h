#pragma once

#include <string>

// What one run of parvex-engine-fetch was asked to do.
struct FetchOptions {
    enum class Mode { None, Link, Url, Resume };

    Mode mode = Mode::None;
    std::string dataDir;
    std::string linkBase;
    std::string linkCode;
    std::string password;
    std::string url;
    std::string to; // the save folder of a link, the file of a URL
    std::string caFile;
    bool insecure = false;
    bool printUrls = false;
    bool quiet = false;
    bool help = false;
};

extern const char* const kFetchUsage;

// False, with a message naming the fault, when the arguments do not make one request.
bool ParseFetchOptions(int argc, char** argv, FetchOptions& options, std::string& error);
