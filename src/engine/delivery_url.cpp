#include "engine/delivery_url.h"

namespace {

constexpr std::string_view kDeliveryDownload = "/delivery/download/";
constexpr std::string_view kDeliveryMetadata = "/delivery/metadata/";
constexpr std::string_view kTokenQuery = "?token=";

} // namespace

std::size_t DeliveryItemPathStart(std::string_view url) {
    const std::size_t marker = url.find(kDeliveryDownload);
    if (marker == std::string_view::npos) {
        return std::string_view::npos;
    }
    const std::size_t code = marker + kDeliveryDownload.size();
    // The code itself never holds a "?": one there starts a query, not a name.
    const std::size_t end = url.find_first_of("/?#", code);
    if (end == std::string_view::npos || url[end] != '/') {
        return std::string_view::npos;
    }
    return end;
}

std::string DeliveryServiceBase(std::string_view address) {
    const std::size_t scheme = address.find("://");
    if (scheme == std::string_view::npos || scheme == 0) {
        return {};
    }
    const std::size_t end = address.find('/', scheme + 3);
    return end == std::string_view::npos ? std::string() : std::string(address.substr(0, end));
}

std::string DeliveryCodeOf(std::string_view metadataAddress) {
    const std::size_t marker = metadataAddress.find(kDeliveryMetadata);
    if (marker == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = metadataAddress.substr(marker + kDeliveryMetadata.size());
    return std::string(rest.substr(0, rest.find_first_of("/?#")));
}

std::string AddressToken(std::string_view address) {
    const std::size_t query = address.find(kTokenQuery);
    return query == std::string_view::npos
               ? std::string()
               : std::string(address.substr(query + kTokenQuery.size()));
}

std::string WithAddressToken(std::string_view address, std::string_view token) {
    std::string result(address.substr(0, address.find(kTokenQuery)));
    if (!token.empty()) {
        result.append(kTokenQuery).append(token);
    }
    return result;
}
