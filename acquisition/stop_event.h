#pragma once
// An auto-reset event: Set wakes one wait, which resets it.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelkor::acquisition {

class AutoResetEvent {
public:
    void Set()
    {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }

    void Reset()
    {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

    // True when the event is signalled (and resets it), without giving up the processor.
    bool Poll()
    {
        std::lock_guard lock(mutex_);
        const bool was = signalled_;
        signalled_ = false;
        return was;
    }

    // True when the event was signalled within the time-out (and is reset by this wait).
    bool Wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return signalled_; }))
            return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace zelkor::acquisition
