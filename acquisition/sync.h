#pragma once
// Lock classes of the acquisition engine: an abstract synchronisation object, a recursive critical
// section over it, and a scoped guard.

#include <mutex>

namespace process {

class sinchronization_object {
public:
    virtual ~sinchronization_object() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// Recursive: the holder may take it again (DiscardOldest calls Clear while holding it).
class critical_section : public sinchronization_object {
public:
    void lock() override { mutex_.lock(); }
    void unlock() override { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class auto_lock {
public:
    explicit auto_lock(sinchronization_object* object) : object_(object) { object_->lock(); }
    virtual ~auto_lock() { object_->unlock(); }
    auto_lock(const auto_lock&) = delete;
    auto_lock& operator=(const auto_lock&) = delete;

private:
    sinchronization_object* object_;
};

}  // namespace process
