#include "tracking/post_targets.h"

#include <QCoreApplication>

#include <mutex>
#include <unordered_set>

namespace post_targets {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_set<QObject*> receivers;
};

// Never destroyed: background threads may post while the process ends.
Registry& TheRegistry() {
    static auto* registry = new Registry();
    return *registry;
}

} // namespace

void Register(QObject* receiver) {
    if (receiver == nullptr) {
        return;
    }
    Registry& registry = TheRegistry();
    {
        std::lock_guard lock(registry.mutex);
        if (!registry.receivers.insert(receiver).second) {
            return;
        }
    }
    // Runs inside ~QObject on the receiver's thread, before Qt drops its pending events: a post
    // that raced with the destruction has finished (it held the lock) and its event is dropped
    // with the others.
    QObject::connect(receiver, &QObject::destroyed, [receiver] { Unregister(receiver); });
}

void Unregister(QObject* receiver) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.receivers.erase(receiver);
}

bool IsRegistered(QObject* receiver) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.receivers.count(receiver) != 0;
}

bool Post(QObject* receiver, std::unique_ptr<QEvent> event) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (receiver == nullptr || registry.receivers.count(receiver) == 0) {
        return false;
    }
    QCoreApplication::postEvent(receiver, event.release());
    return true;
}

} // namespace post_targets
