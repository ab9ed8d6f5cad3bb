// A pasted link address (first line) and password (the rest) through the add dialog's steps
// that need no service: trimming, the scheme check, splitting into the service address and
// the delivery code, and the message of the outcome. No engine is given, so nothing is sent.
#include "fuzz_check.h"
#include "fuzz_fields.h"
#include "temp_home.h"

#include "intake/link_confirm.h"

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void CheckParts(const QString& address, std::string_view input) {
    const LinkParts parts = SplitLinkAddress(address);
    if (!parts.serviceAddress.isEmpty()) {
        const qsizetype mark = parts.serviceAddress.indexOf(QLatin1String("://"));
        FUZZ_CHECK(address.startsWith(parts.serviceAddress), input);
        FUZZ_CHECK(mark >= 0 && parts.serviceAddress.indexOf(u'/', mark + 3) < 0, input);
    }
    // The code is one path segment and ends before a query or a fragment.
    for (const char16_t refused : {u'/', u'?', u'#'}) {
        FUZZ_CHECK(!parts.deliveryCode.contains(QChar(refused)), input);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    UseTemporaryHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [address, password] = SplitFields<2>(data, size);
    const std::string_view input = InputText(data, size);
    const QString typed = FromUtf8(address);
    CheckParts(typed, input);

    const LinkCheck check = CheckLink(nullptr, typed, FromUtf8(password));
    FUZZ_CHECK(check.step != LinkCheck::Step::kOpened && check.step != LinkCheck::Step::kLoginOnly,
               input);
    FUZZ_CHECK(check.accessToken.isEmpty(), input);
    if (check.step == LinkCheck::Step::kAuthFailed) {
        const LinkParts parts = SplitLinkAddress(check.typed);
        FUZZ_CHECK(check.serviceAddress == parts.serviceAddress &&
                       check.deliveryCode == parts.deliveryCode,
                   input);
    }
    const LinkConfirmResult result = FinishLinkConfirm(check);
    FUZZ_CHECK(result.outcome != ConfirmOutcome::kAccepted && !result.message.isEmpty(), input);
    return 0;
}
