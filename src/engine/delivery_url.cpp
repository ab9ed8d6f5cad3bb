#include "engine/delivery_url.h"

namespace {

constexpr std::string_view kDeliveryDownload = "/delivery/download/";

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
