#include "tracking/front_events.h"

#include <map>
#include <mutex>
#include <string>

QEvent::Type FrontEventType(const char* name) {
    static std::mutex mutex;
    static std::map<std::string, QEvent::Type> types;
    std::lock_guard lock(mutex);
    const auto found = types.find(name);
    if (found != types.end()) {
        return found->second;
    }
    const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    types.emplace(name, type);
    return type;
}
