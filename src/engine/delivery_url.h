#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A link item's download address: the service address, "/delivery/download/", the delivery
// code and the item's path below the link, made of the service's names as they are (a name
// may hold "%", "?" or "#"). Any other address (a converted document's, a watermarked copy's)
// is the service's own URL with a query of its own.

// Where the item's path begins in a link item's download address (at its "/" after the code),
// or npos for any other address and for one without a path.
std::size_t DeliveryItemPathStart(std::string_view url);

// A task address is a link item's metadata URL ("<service>/v2/delivery/metadata/CODE/...")
// followed by "?token=" and the link's access token; the token runs to the address's end.

// "scheme://host[:port]" of an address; empty when no "/" follows its "://".
std::string DeliveryServiceBase(std::string_view address);
// The delivery code of a metadata address: after "/delivery/metadata/", up to a "/", "?" or
// "#"; empty when there is none.
std::string DeliveryCodeOf(std::string_view metadataAddress);
// The access token of a task address; empty when it has none.
std::string AddressToken(std::string_view address);
// The address with `token` in place of its own (added when it has none; none when `token` is
// empty).
std::string WithAddressToken(std::string_view address, std::string_view token);
