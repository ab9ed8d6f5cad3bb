#include "net/curl_share.h"

#include <curl/curl.h>

#include <array>
#include <mutex>

namespace {

std::array<std::mutex, CURL_LOCK_DATA_LAST> g_locks;

void Lock(CURL*, curl_lock_data data, curl_lock_access, void*) {
    g_locks[static_cast<std::size_t>(data)].lock();
}

void Unlock(CURL*, curl_lock_data data, void*) {
    g_locks[static_cast<std::size_t>(data)].unlock();
}

CURLSH* MakeShare() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    return share;
}

} // namespace

CURLSH* SharedCurlHandle() {
    // Never cleaned up: clients may still run on detached threads while the process ends.
    static CURLSH* share = MakeShare();
    return share;
}
