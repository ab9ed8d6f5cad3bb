#pragma once

#include <atomic>
#include <string>

// A link task's access token renewed after the service refused it as no longer valid (20003):
// the link is authenticated again with the password kept with the task (empty for a link
// without one), and the new token goes into the task and its sub-tasks (CChangerTaskToken).
// It runs on the thread of the worker that met the refusal, never on the dispatcher's.
//
// Workers of one task that meet the refusal together share one authentication: the first one
// authenticates, the others wait for it and take its outcome. A token already renewed is handed
// on again without authenticating, so ranges queued with the old token cost no second one.
struct TokenRenewal {
    // 0; the platform's code when the service could not be reached (1223 when stopped or the
    // task is gone); 20113 when the service refused to open the link again.
    int code = 0;
    std::string message; // on failure
    std::string token;   // on success
};

// Whether the address is a link's task address, whose token can be renewed.
bool CanRenewToken(const std::string& address);

// Renews the token of `staleAddress`, an address of the task that the service refused. Waits
// for a renewal of the same task in flight (ending early once `stop` is set).
TokenRenewal RenewTaskToken(const std::string& taskId, const std::string& staleAddress,
                            const std::atomic<bool>& stop);
