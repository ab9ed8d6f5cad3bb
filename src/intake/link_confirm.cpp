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

LinkParts SplitLinkAddress(const QString& fullAddress) {
    // The delivery code ends before a query or a fragment; what follows is ignored, or it would
    // become part of every address built from the code.
    qsizetype end = 0;
    while (end < fullAddress.size() && fullAddress[end] != u'?' && fullAddress[end] != u'#') {
        ++end;
    }
    const QString workingAddress = fullAddress.left(end);
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

LinkCheck CheckLink(CEngineBridge* bridge, const QString& linkAddress, const QString& password) {
    using Step = LinkCheck::Step;
    LinkCheck check;
    check.typed = linkAddress.trimmed();
    check.password = password;
    if (check.typed.isEmpty()) {
        check.step = Step::kEmpty;
        return check;
    }
    const auto failed = [&check](Step step, const BridgeStatus& status) {
        check.step = step;
        check.errorCode = status.code;
        check.errorMessage = status.message;
        return check;
    };

    QString working = check.typed;
    if (!working.contains(QLatin1String("/link/view/"))) {
        BridgeStatus status;
        working = bridge != nullptr ? bridge->ResolveLinkAddress(check.typed, status) : QString();
        if (working.isEmpty()) {
            return failed(Step::kResolveFailed, status);
        }
    }
    if (working.indexOf(kSchemeMark) <= 0) {
        check.step = Step::kNoScheme;
        return check;
    }

    const LinkParts parts = SplitLinkAddress(working);
    check.serviceAddress = parts.serviceAddress;
    check.deliveryCode = parts.deliveryCode;
    BridgeStatus status;
    if (bridge != nullptr) {
        check.accessToken =
            bridge->AuthenticateLink(parts.serviceAddress, parts.deliveryCode, password, status);
    }
    if (check.accessToken.isEmpty()) {
        // No token and no error (no engine, or a reply without one) shows code 0.
        return failed(Step::kAuthFailed, status);
    }
    const bool loginOnly =
        bridge != nullptr && bridge->IsLinkLoginVerified(parts.serviceAddress, parts.deliveryCode);
    check.step = loginOnly ? Step::kLoginOnly : Step::kOpened;
    return check;
}

LinkConfirmResult FinishLinkConfirm(const LinkCheck& check) {
    using Step = LinkCheck::Step;
    switch (check.step) {
    case Step::kEmpty:
        return Refused(GetLangText(lang_text::kEnterLinkAddress), ConfirmFocus::kLinkAddress);
    case Step::kResolveFailed:
        return Refused(ErrorMessageText(check.errorMessage, check.errorCode),
                       ConfirmFocus::kLinkAddress, check.errorCode);
    case Step::kNoScheme:
        return Refused(GetLangText(lang_text::kInvalidLink), ConfirmFocus::kLinkAddress);
    default:
        break;
    }
    LinkConfirmResult result;
    result.serviceAddress = check.serviceAddress;
    result.deliveryCode = check.deliveryCode;
    result.accessToken = check.accessToken;
    if (check.step == Step::kAuthFailed) {
        result.message = ErrorMessageText(check.errorMessage, check.errorCode);
        result.focus = ConfirmFocus::kPassword;
        result.errorCode = check.errorCode;
        return result;
    }
    if (check.step == Step::kLoginOnly) {
        result.outcome = ConfirmOutcome::kCancelled;
        result.message = GetLangText(lang_text::kLoginOnlyLink);
        return result;
    }
    WriteSetting(kSettingDeliveryUrl, check.typed.toStdString());
    result.outcome = ConfirmOutcome::kAccepted;
    result.password = check.password;
    return result;
}

LinkConfirmResult ConfirmLink(CEngineBridge* bridge, const QString& linkAddress,
                              const QString& password) {
    return FinishLinkConfirm(CheckLink(bridge, linkAddress, password));
}
