#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>

// The receivers background threads may post to. A receiver is registered by its own thread
// and leaves the registry when it is destroyed (or unregisters earlier); posting checks the
// registry under its lock, so nothing is ever posted to a deleted object, and an event whose
// receiver is gone is freed.
//
// A registration carries a number of its own: an object that a later one replaces at the same
// address never receives what was meant for the earlier one.
namespace post_targets {

struct Target {
    QObject* receiver = nullptr;
    std::uint64_t generation = 0; // 0: not registered

    bool operator==(const Target&) const = default;
};

// Registers `receiver` unless it is registered already, and returns its registration; it
// leaves again when it is destroyed.
Target Register(QObject* receiver);
void Unregister(QObject* receiver);
// The receiver's current registration; generation 0 when it has none.
Target Current(QObject* receiver);
bool IsRegistered(QObject* receiver);
bool IsRegistered(const Target& target);

// Posts `event` to the target when that very registration is still current and returns true;
// otherwise frees the event and returns false.
bool Post(const Target& target, std::unique_ptr<QEvent> event);

} // namespace post_targets
