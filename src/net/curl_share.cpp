#include "net/curl_share.h"

#include <curl/curl.h>

#include <array>

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
    return share;
}

void Free(ThreadMulti* thread) {
    curl_multi_cleanup(thread->multi);
    delete thread;
}

// Ends with its thread: frees the multi handle unless an exchange still holds it.
struct ThreadMultiOwner {
    ThreadMulti* thread = nullptr;

    ~ThreadMultiOwner() {
        if (thread == nullptr) {
            return;
        }
        bool unused = false;
        {
            std::lock_guard<std::mutex> lock(thread->mutex);
            thread->ownerGone = true;
            unused = thread->attached == 0;
        }
        if (unused) {
            Free(thread);
        }
    }
};

} // namespace

CURLSH* SharedCurlHandle() {
    // Never cleaned up: clients may still run on detached threads while the process ends.
    static CURLSH* share = MakeShare();
    return share;
}

ThreadMulti* AcquireThreadMulti() {
    SharedCurlHandle(); // libcurl initialised first
    thread_local ThreadMultiOwner owner;
    if (owner.thread == nullptr) {
        owner.thread = new ThreadMulti;
        owner.thread->multi = curl_multi_init();
    }
    std::lock_guard<std::mutex> lock(owner.thread->mutex);
    ++owner.thread->attached;
    return owner.thread;
}

void ReleaseThreadMulti(ThreadMulti* thread) {
    bool unused = false;
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        --thread->attached;
        unused = thread->ownerGone && thread->attached == 0;
    }
    if (unused) {
        Free(thread);
    }
}
