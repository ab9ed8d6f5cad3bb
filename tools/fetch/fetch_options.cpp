#include "fetch_options.h"

#include <string_view>

const char* const kFetchUsage =
    "usage: parvex-engine-fetch --data-dir DIR\n"
    "           (--link BASE CODE [--password P] --to DIR | --url URL --to FILE | --resume)\n"
    "           [--ca-file F] [--insecure] [--print-urls] [--quiet]\n"
    "\n"
    "Runs the engine on the data folder DIR and downloads the root item of the share link CODE\n"
    "of the service at BASE into the folder DIR given with --to, or the URL into FILE; with\n"
    "--resume it creates nothing and resumes the unfinished tasks stored in DIR.\n"
    "Prints \"progress TASKID STATE BYTES/SIZE\" once a second (not with --quiet), then\n"
    "\"done\" or \"failed CODE TEXT\". Exit status: 0 every task completed, 1 one failed,\n"
    "2 usage error, 3 the link could not be opened.\n"
    "--print-urls lists a link's files instead (download URL with its token, a tab, the local\n"
    "path below the save folder) and downloads nothing.\n"
    "--ca-file and --insecure set PARVEX_CA_FILE and PARVEX_INSECURE_TLS=1.\n"
    "The engine's error lines go to DIR/fetch.log, its information lines too while DIR holds\n"
    "an entry named Information.\n";

namespace {

bool SetMode(FetchOptions& options, FetchOptions::Mode mode, std::string& error) {
    if (options.mode != FetchOptions::Mode::None) {
        error = "give only one of --link, --url and --resume";
        return false;
    }
    options.mode = mode;
    return true;
}

bool CheckCombination(const FetchOptions& options, std::string& error) {
    using Mode = FetchOptions::Mode;
    if (options.dataDir.empty()) {
        error = "--data-dir DIR is required";
    } else if (options.mode == Mode::None) {
        error = "one of --link, --url and --resume is required";
    } else if (options.mode == Mode::Link &&
               (options.linkBase.empty() || options.linkCode.empty())) {
        error = "--link needs the service address and the delivery code";
    } else if (options.printUrls && options.mode != Mode::Link) {
        error = "--print-urls lists a link: it needs --link";
    } else if (options.mode == Mode::Resume && !options.to.empty()) {
        error = "--resume takes no --to: the stored tasks know their paths";
    } else if (options.mode != Mode::Resume && !options.printUrls && options.to.empty()) {
        error = "--to is required with --link and --url";
    } else if (!options.password.empty() && options.mode != Mode::Link) {
        error = "--password belongs to --link";
    }
    return error.empty();
}

} // namespace

bool ParseFetchOptions(int argc, char** argv, FetchOptions& options, std::string& error) {
    using Mode = FetchOptions::Mode;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const int left = argc - i - 1;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        }
        if (arg == "--data-dir" && left >= 1) {
            options.dataDir = argv[++i];
        } else if (arg == "--link" && left >= 2) {
            if (!SetMode(options, Mode::Link, error)) {
                return false;
            }
            options.linkBase = argv[++i];
            options.linkCode = argv[++i];
        } else if (arg == "--url" && left >= 1) {
            if (!SetMode(options, Mode::Url, error)) {
                return false;
            }
            options.url = argv[++i];
        } else if (arg == "--resume") {
            if (!SetMode(options, Mode::Resume, error)) {
                return false;
            }
        } else if (arg == "--password" && left >= 1) {
            options.password = argv[++i];
        } else if (arg == "--to" && left >= 1) {
            options.to = argv[++i];
        } else if (arg == "--ca-file" && left >= 1) {
            options.caFile = argv[++i];
        } else if (arg == "--insecure") {
            options.insecure = true;
        } else if (arg == "--print-urls") {
            options.printUrls = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else {
            error = "unknown or incomplete argument \"" + std::string(arg) + "\"";
            return false;
        }
    }
    // A trailing slash would give the link's root item a path with an empty segment.
    while (options.linkBase.size() > 1 && options.linkBase.back() == '/') {
        options.linkBase.pop_back();
    }
    return CheckCombination(options, error);
}
