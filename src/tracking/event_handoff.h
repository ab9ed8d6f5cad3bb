#pragma once

// Qt's posted-event queue locks with futexes the thread sanitizer does not see, so an event
// built on one thread and delivered on another looks like a race to it. The poster marks the
// event as handed over and the delivering application takes it; without the sanitizer both
// are nothing.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_release(void* address);
extern "C" void __tsan_acquire(void* address);
#endif

namespace event_handoff {

inline void HandOver([[maybe_unused]] void* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#endif
}

inline void TakeOver([[maybe_unused]] void* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#endif
}

} // namespace event_handoff
