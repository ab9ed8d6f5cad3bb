// Download addresses built from what the service named: an item's path (an absolute address
// or a storage path), its metadata address with the link's token, and the storage fields.
// Fields, one a line: path, metaurl, pathtype, neid, rev, prefixneid, from; the sync flag
// is the last input byte's lowest bit.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "engine/ascii_text.h"
#include "engine/engine_context.h"
#include "net/download_request.h"
#include "net/service_request.h"

#include <vector>

namespace {

constexpr char kServiceAddress[] = "https://svc.example";
constexpr std::string_view kRouter = "https://svc.example/v2/dl_router/databox";

std::vector<std::string_view> SplitAt(std::string_view text, char mark) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(mark, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

// A storage item's fields reach the router as the path and parameters they are, never as
// further parameters, another path or a fragment.
void CheckRouterUrl(const std::string& url, const BoxFileInfo& file, bool sync,
                    std::string_view input) {
    FUZZ_CHECK(url.starts_with(kRouter), input);
    FUZZ_CHECK(url.find('#') == std::string::npos, input);
    const std::size_t query = url.find('?');
    FUZZ_CHECK(query != std::string::npos, input);
    FUZZ_CHECK(url.substr(kRouter.size(), query - kRouter.size()) == PercentEncode(file.path),
               input);
    std::vector<std::string> expected = {"path_type"};
    const std::pair<const char*, const std::string*> optional[] = {
        {"neid", &file.neid},
        {"rev", &file.rev},
        {"prefix_neid", &file.prefixneid},
        {"from", &file.from},
    };
    for (const auto& [name, value] : optional) {
        if (!value->empty()) {
            expected.push_back(name);
        }
    }
    if (sync) {
        expected.push_back("op_type");
    }
    std::vector<std::string> names;
    for (const std::string_view parameter : SplitAt(std::string_view(url).substr(query + 1), '&')) {
        names.emplace_back(parameter.substr(0, parameter.find('=')));
    }
    FUZZ_CHECK(names == expected, input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    GetEngineContext().settings.SetOption(kOptionServiceAddress, kServiceAddress);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields<7>(data, size);
    const std::string_view input = InputText(data, size);
    BoxFileInfo file;
    file.path = fields[0];
    file.metaurl = fields[1];
    file.pathtype = fields[2];
    file.neid = fields[3];
    file.rev = fields[4];
    file.prefixneid = fields[5];
    file.from = fields[6];
    const bool sync = size > 0 && (data[size - 1] & 1) != 0;

    const std::string url = DownloadUrlFor(file, sync);
    if (AsciiLower(std::string_view(file.path).substr(0, 4)) != "http") {
        CheckRouterUrl(url, file, sync, input);
        return 0;
    }
    // An absolute address goes to the scheme, host and port the service named (a "%" there
    // is no valid host, and the first "%" of some addresses is escaped as the service expects).
    const std::string lower = AsciiLower(file.path);
    const std::size_t hostStart =
        lower.starts_with("https://") ? 8 : (lower.starts_with("http://") ? 7 : 0);
    if (hostStart == 0) {
        return 0;
    }
    const std::string_view authority =
        std::string_view(file.path).substr(0, file.path.find_first_of("/?#", hostStart));
    FUZZ_CHECK(authority.find('%') != std::string_view::npos || url.starts_with(authority), input);
    return 0;
}
