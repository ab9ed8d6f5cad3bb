#pragma once

#include <map>
#include <mutex>

typedef void CURL;
typedef void CURLM;
typedef void CURLSH;

// libcurl initialised once for the process, and one share handle through which every client
// reuses name lookups and TLS sessions.
CURLSH* SharedCurlHandle();

// The multi handle of one thread. Its connection cache lets the exchanges a thread makes one
// after another (a worker's ranges, a series of service calls) reuse their connections;
// libcurl does not share live connections between threads. Transfers that ended while another
// exchange of the thread was driving the handle wait in `finished` for their own client.
struct ThreadMulti {
    CURLM* multi = nullptr;
    std::map<CURL*, int> finished;
    std::mutex mutex; // guards the counts below, which a late close on another thread reads
    int attached = 0;
    bool ownerGone = false;
};

// The calling thread's multi handle, counted as used until ReleaseThreadMulti. A handle whose
// thread has ended is freed when its last exchange is released.
ThreadMulti* AcquireThreadMulti();
void ReleaseThreadMulti(ThreadMulti* thread);
