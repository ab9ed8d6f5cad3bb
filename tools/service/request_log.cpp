#include "request_log.h"

#include "http_head.h"

namespace parvex_service {

std::string RecordedRequest::Header(const std::string& name) const {
    return HeaderValue(headers, name);
}

} // namespace parvex_service
