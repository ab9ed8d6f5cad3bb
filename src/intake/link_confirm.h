#pragma once

#include <QString>

class CEngineBridge;

// The service address and delivery code of a working link address.
struct LinkParts {
    QString serviceAddress; // scheme://host[:port], empty when no "/" follows "://"
    QString deliveryCode;   // after the last "/", up to a "?" or "#"
};
// Splits a working address that holds "://" after at least one character; a query or fragment
// is ignored.
LinkParts SplitLinkAddress(const QString& fullAddress);

// Where the add dialog puts the focus after a refused address.
enum class ConfirmFocus { kNone, kLinkAddress, kPassword };

enum class ConfirmOutcome {
    kAccepted,  // close with OK: the three results are set
    kStayOpen,  // show the message, focus the field, stay open
    kCancelled, // show the message, close with Cancel (a link for logged-in users only)
};

struct LinkConfirmResult {
    ConfirmOutcome outcome = ConfirmOutcome::kStayOpen;
    QString message; // empty when accepted
    ConfirmFocus focus = ConfirmFocus::kNone;
    int errorCode = 0; // the failed request's code (0 when no request failed)
    QString serviceAddress;
    QString deliveryCode;
    QString accessToken;
    QString password; // the one that opened the link, kept with its tasks
};

// What the service made of a typed address: the requests of the add dialog's OK, with no
// texts and no settings, so they can run off the window thread.
struct LinkCheck {
    enum class Step {
        kEmpty,         // nothing but white space was typed
        kResolveFailed, // the service could not resolve the short address
        kNoScheme,      // no "://" after at least one character
        kAuthFailed,    // no token (wrong password, unknown code, network error, no engine)
        kLoginOnly,     // opened, but only logged-in users may download it
        kOpened,
    };
    Step step = Step::kEmpty;
    QString typed; // the address trimmed, as typed
    int errorCode = 0;
    QString errorMessage;
    QString serviceAddress;
    QString deliveryCode;
    QString accessToken;
    QString password; // as given
};
LinkCheck CheckLink(CEngineBridge* bridge, const QString& linkAddress, const QString& password);
// The outcome of a check in the current language; an opened link's typed address is
// remembered ("DeliveryUrl"). Window thread.
LinkConfirmResult FinishLinkConfirm(const LinkCheck& check);

// The add dialog's OK: trims the address (Unicode white space), refuses an empty one, lets the
// service resolve an address without "/link/view/", checks for a scheme, splits off the service
// address and the delivery code, authenticates, refuses links for logged-in users only, and
// remembers the trimmed address as typed ("DeliveryUrl") when accepted. Messages are in the
// current language. `bridge` may be null (no engine): authentication then fails with code 0.
// CheckLink and FinishLinkConfirm in one.
LinkConfirmResult ConfirmLink(CEngineBridge* bridge, const QString& linkAddress,
                              const QString& password);
