#pragma once

#include "engine/tovu_trans_mgr.h"

#include <string>

// A text the transfer manager returned, copied and given back; empty for none.
inline std::string TakeText(CTovuTransMgr& mgr, char* text) {
    std::string copy = text != nullptr ? text : "";
    mgr.FreeString(text);
    return copy;
}

// Why a step failed: a result code and its message.
struct FetchFailure {
    int code = 0;
    std::string message;
};
