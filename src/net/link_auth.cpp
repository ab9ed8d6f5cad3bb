#include "net/link_auth.h"

#include "engine/message_texts.h"
#include "net/rsa_password.h"
#include "net/service_calls.h"
#include "net/service_request.h"

int AuthenticateLink(const std::string& serviceAddress, const std::string& deliveryCode,
                     const std::string& password, std::string& token, std::string& message) {
    // The password leaves the machine encrypted or not at all: without a usable key the
    // authentication fails.
    std::string sent;
    if (!password.empty()) {
        ServiceReply keyReply;
        if (const int result = GetPublicKey(serviceAddress, keyReply); result != 0) {
            message = keyReply.errorMessage.empty() && result == service_code::kUnusableReply
                          ? UnusableReplyText()
                          : keyReply.errorMessage;
            return result;
        }
        sent = EncryptPassword(keyReply.resultText, password);
        if (sent.empty()) {
            message = UnusableReplyText();
            return service_code::kUnusableReply;
        }
    }
    ServiceReply reply;
    const int result = AuthenticateDelivery(serviceAddress, deliveryCode, sent, reply);
    if (result == 0) {
        token = reply.resultText;
    } else {
        message = reply.errorMessage;
    }
    return result;
}

bool IsLinkLoginVerified(const std::string& serviceAddress, const std::string& deliveryCode) {
    ServiceReply reply;
    return IsLoginVerify(serviceAddress, deliveryCode, reply) == 0 && reply.resultFlag;
}
