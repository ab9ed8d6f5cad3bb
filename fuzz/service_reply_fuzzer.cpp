// A reply body from the service: the error-object check every call makes, then the listing
// readers of storage folders, share links and revisions, whatever JSON arrives.
#include "fuzz_check.h"
#include "fuzz_fields.h"

#include "net/service_records.h"
#include "net/service_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(InputText(data, size));
    ServiceReply reply;
    reply.body = body;
    const int result = CheckErrorReply(reply);
    FUZZ_CHECK(result == 0 ||
                   (result >= service_code::kOtherError && result <= service_code::kFileLocked),
               body);
    // Every failure but an unusable body is an error object, and its members were kept.
    FUZZ_CHECK((result == 0 || result == service_code::kUnusableReply) == reply.errorType.empty(),
               body);

    rapidjson::Document document;
    if (!ParseReply(body, document)) {
        FUZZ_CHECK(result == service_code::kUnusableReply, body);
        return 0;
    }
    BoxListing box;
    ReadListing(document, box);
    DeliveryListing delivery;
    ReadListing(document, delivery);
    RevisionItem revision;
    revision.Read(document);
    const rapidjson::Value* children = ListingChildren(document);
    FUZZ_CHECK(delivery.children.size() <= (children == nullptr ? 0 : children->Size()), body);
    FUZZ_CHECK(box.children.size() == delivery.children.size(), body);
    return 0;
}
