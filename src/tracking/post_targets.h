#pragma once

#include <QEvent>
#include <QObject>

#include <memory>

// The receivers background threads may post to. A receiver is registered by its own thread
// and leaves the registry when it is destroyed (or unregisters earlier); posting checks the
// registry under its lock, so nothing is ever posted to a deleted object, and an event whose
// receiver is gone is freed.
namespace post_targets {

// Registers `receiver` (idempotent); it leaves again when it is destroyed.
void Register(QObject* receiver);
void Unregister(QObject* receiver);
bool IsRegistered(QObject* receiver);

// Posts `event` to `receiver` when it is registered and returns true; otherwise frees the
// event and returns false.
bool Post(QObject* receiver, std::unique_ptr<QEvent> event);

} // namespace post_targets
