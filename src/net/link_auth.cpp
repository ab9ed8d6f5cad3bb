#include "net/link_auth.h"

#include "net/rsa_password.h"
#include "net/service_calls.h"

int AuthenticateLink(const std::string& serviceAddress, const std::string& deliveryCode,
                     const std::string& password, std::string& token, std::string& message) {
    std::string sent = password;
    if (!password.empty()) {
        ServiceReply keyReply;
        if (GetPublicKey(serviceAddress, keyReply) == 0) {
            sent = EncryptPassword(keyReply.resultText, password);
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
