#pragma once
// The sample record and the locked first-in first-out queue that carries samples from the worker
// thread to the user-interface thread.

#include "sync.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace zelkor::acquisition {

// In the raw queue x and y are the left and right distances (m); in the sample queue the solved position.
struct DataPck {
    double x = 0.0;
    double y = 0.0;
    float temperature = 0.0f;  // degrees Celsius, as the sensor reports it
    float interval = 0.0f;     // seconds since the previous sample; 0 without the sensor's time field
};

// Every operation holds the queue's own lock for its duration only; callers copy a sample with Front,
// remove it with PopFront and work on the copy outside the lock.
template <typename T>
class CMutexQueue {
public:
    static constexpr std::size_t kCap = 1024000;

    // Beyond the cap the oldest sample gives way, so the count exceeds the cap by one at most. The push
    // hook runs after the lock is released, on the pushing thread.
    void Push(const T& item)
    {
        {
            process::auto_lock guard(&lock_);
            if (items_.size() > cap_)
                items_.pop_front();
            items_.push_back(item);
            if (items_.size() > highWater_)
                highWater_ = items_.size();
        }
        if (pushHook_)
            pushHook_();
    }

    // The most samples the queue has held at once, for watching a long run.
    std::size_t HighWater()
    {
        process::auto_lock guard(&lock_);
        return highWater_;
    }

    // Filling the full cap takes the worker about twenty minutes; a test of what happens beyond it
    // lowers the cap instead.
    void SetCap(std::size_t cap)
    {
        process::auto_lock guard(&lock_);
        cap_ = cap;
    }

    // Called after every push (so a reader can sleep until there is something to read). Set it before
    // any other thread uses the queue.
    void SetPushHook(std::function<void()> hook) { pushHook_ = std::move(hook); }

    std::size_t Size()
    {
        process::auto_lock guard(&lock_);
        return items_.size();
    }

    std::optional<T> Front()
    {
        process::auto_lock guard(&lock_);
        if (items_.empty())
            return std::nullopt;
        return items_.front();
    }

    void PopFront()
    {
        process::auto_lock guard(&lock_);
        if (!items_.empty())
            items_.pop_front();
    }

    void DiscardOldest(std::size_t n)
    {
        process::auto_lock guard(&lock_);
        if (items_.empty())
            return;
        if (n >= items_.size())
            Clear();
        else
            items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(n));
    }

    void Clear()
    {
        process::auto_lock guard(&lock_);
        items_.clear();
    }

private:
    process::critical_section lock_;
    std::deque<T> items_;
    std::size_t cap_ = kCap;
    std::size_t highWater_ = 0;
    std::function<void()> pushHook_;
};

using SampleQueue = CMutexQueue<DataPck>;

}  // namespace zelkor::acquisition
