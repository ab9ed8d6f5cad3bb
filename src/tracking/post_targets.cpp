#include "tracking/post_targets.h"

#include "tracking/event_handoff.h"

#include <QCoreApplication>

#include <mutex>
#include <unordered_map>

namespace post_targets {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<QObject*, std::uint64_t> receivers;
    std::uint64_t lastGeneration = 0;
};

// Never destroyed: background threads may post while the process ends.
Registry& TheRegistry() {
    static auto* registry = new Registry();
    return *registry;
}

} // namespace

Target Register(QObject* receiver) {
    if (receiver == nullptr) {
        return {};
    }
    Registry& registry = TheRegistry();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(registry.mutex);
        const auto found = registry.receivers.find(receiver);
        if (found != registry.receivers.end()) {
            return {receiver, found->second};
        }
        generation = ++registry.lastGeneration;
        registry.receivers.emplace(receiver, generation);
    }
    // Runs inside ~QObject on the receiver's thread, before Qt drops its pending events: a post
    // that raced with the destruction has finished (it held the lock) and its event is dropped
    // with the others.
    QObject::connect(receiver, &QObject::destroyed, [receiver] { Unregister(receiver); });
    return {receiver, generation};
}

void Unregister(QObject* receiver) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.receivers.erase(receiver);
}

Target Current(QObject* receiver) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.receivers.find(receiver);
    return found != registry.receivers.end() ? Target{receiver, found->second} : Target{};
}

bool IsRegistered(QObject* receiver) {
    return Current(receiver).generation != 0;
}

bool IsRegistered(const Target& target) {
    return target.generation != 0 && Current(target.receiver) == target;
}

bool Post(const Target& target, std::unique_ptr<QEvent> event) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.receivers.find(target.receiver);
    if (target.generation == 0 || found == registry.receivers.end() ||
        found->second != target.generation) {
        return false;
    }
    event_handoff::HandOver(event.get());
    QCoreApplication::postEvent(target.receiver, event.release());
    return true;
}

} // namespace post_targets
