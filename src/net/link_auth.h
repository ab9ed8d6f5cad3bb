#pragma once

#include <string>

// Authenticates a share link: a password is first encrypted with the service's public key,
// then posted to the link; it is never sent as typed. Returns 0 with the access token (empty
// when the reply had none), or the result code with the service's message: the key call's own
// when it failed, 20002 when its key cannot be used.
int AuthenticateLink(const std::string& serviceAddress, const std::string& deliveryCode,
                     const std::string& password, std::string& token, std::string& message);

// Whether the link may only be opened by users who are logged in; false when the call fails.
bool IsLinkLoginVerified(const std::string& serviceAddress, const std::string& deliveryCode);
