#include "net/user_agent.h"

#include "engine/os_description.h"
#include "log/format_text.h"

#ifndef PARVEX_VERSION_MS
#define PARVEX_VERSION_MS 0x00010000u
#define PARVEX_VERSION_LS 0u
#endif

const std::string& HttpUserAgent() {
    static const std::string agent =
        FormatText("%s_%s_%s", "TovuClientWin",
                   GetFileVersionText(PARVEX_VERSION_MS, PARVEX_VERSION_LS).c_str(),
                   GetOsDescription().c_str());
    return agent;
}
