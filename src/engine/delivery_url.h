#pragma once

#include <cstddef>
#include <string_view>

// A link item's download address: the service address, "/delivery/download/", the delivery
// code and the item's path below the link, made of the service's names as they are (a name
// may hold "%", "?" or "#"). Any other address (a converted document's, a watermarked copy's)
// is the service's own URL with a query of its own.

// Where the item's path begins in a link item's download address (at its "/" after the code),
// or npos for any other address and for one without a path.
std::size_t DeliveryItemPathStart(std::string_view url);
