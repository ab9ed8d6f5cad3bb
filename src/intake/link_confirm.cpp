#include "intake/link_confirm.h"

#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "app/settings.h"

namespace {

constexpr QLatin1String kSchemeMark("://");

LinkConfirmResult Refused(const QString& message, ConfirmFocus focus, int errorCode = 0) {
    LinkConfirmResult result;
    result.outcome = ConfirmOutcome::kStayOpen;
    result.message = message;
    result.focus = focus;
    result.errorCode = errorCode;
    return result;
}

} // namespace

LinkParts SplitLinkAddress(const QString& workingAddress) {
    LinkParts parts;
    const qsizetype mark = workingAddress.indexOf(kSchemeMark);
    if (mark >= 0) {
        const qsizetype slash = workingAddress.indexOf(u'/', mark + kSchemeMark.size());
        if (slash >= 0) {
            parts.serviceAddress = workingAddress.left(slash);
        }
    }
    parts.deliveryCode = workingAddress.mid(workingAddress.lastIndexOf(u'/') + 1);
    return parts;
}

LinkConfirmResult ConfirmLink(CEngineBridge* bridge, const QString& linkAddress,
                              const QString& password) {
    const QString typed = linkAddress.trimmed();
    if (typed.isEmpty()) {
        return Refused(GetLangText(lang_text::kEnterLinkAddress), ConfirmFocus::kLinkAddress);
    }

    QString working = typed;
    if (!typed.contains(QLatin1String("/link/view/"))) {
        BridgeStatus status;
        working = bridge != nullptr ? bridge->ResolveLinkAddress(typed, status) : QString();
        if (working.isEmpty()) {
            return Refused(ErrorMessageText(status.message, status.code),
                           ConfirmFocus::kLinkAddress, status.code);
        }
    }

    if (working.indexOf(kSchemeMark) <= 0) {
        return Refused(GetLangText(lang_text::kInvalidLink), ConfirmFocus::kLinkAddress);
    }

    const LinkParts parts = SplitLinkAddress(working);
    LinkConfirmResult result;
    result.serviceAddress = parts.serviceAddress;
    result.deliveryCode = parts.deliveryCode;

    BridgeStatus status;
    if (bridge != nullptr) {
        result.accessToken =
            bridge->AuthenticateLink(parts.serviceAddress, parts.deliveryCode, password, status);
    }
    if (result.accessToken.isEmpty()) {
        // No token and no error (no engine, or a reply without one) shows code 0.
        result.message = ErrorMessageText(status.message, status.code);
        result.focus = ConfirmFocus::kPassword;
        result.errorCode = status.code;
        return result;
    }

    if (bridge != nullptr &&
        bridge->IsLinkLoginVerified(parts.serviceAddress, parts.deliveryCode)) {
        result.outcome = ConfirmOutcome::kCancelled;
        result.message = GetLangText(lang_text::kLoginOnlyLink);
        return result;
    }

    WriteSetting(kSettingDeliveryUrl, typed.toStdString());
    result.outcome = ConfirmOutcome::kAccepted;
    return result;
}
