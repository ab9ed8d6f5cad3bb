#pragma once

typedef void CURLSH;

// libcurl initialised once for the process, and one share handle through which every client
// reuses connections, name lookups and TLS sessions to the same host.
CURLSH* SharedCurlHandle();
