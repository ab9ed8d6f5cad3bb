#pragma once

// A change to a task or sub-task that some thread wants made. Changes are queued on the
// dispatcher (QueueChange) and applied one at a time on its thread, so the task container is
// changed in one place only.
class CTaskInfoChangerBase {
public:
    virtual ~CTaskInfoChangerBase() = default;

    // True when this queued change has absorbed `other`, which is then dropped.
    virtual bool TryMerge(const CTaskInfoChangerBase& other) {
        static_cast<void>(other);
        return false;
    }
    // Applies the change; runs on the dispatcher thread without the queue lock.
    virtual void DoChange() = 0;

protected:
    CTaskInfoChangerBase() = default;
    CTaskInfoChangerBase(const CTaskInfoChangerBase&) = default;
    CTaskInfoChangerBase& operator=(const CTaskInfoChangerBase&) = default;
};
