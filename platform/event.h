// Manual-reset event: once set, every wait returns at once until it is reset.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set() {
        std::lock_guard<std::mutex> hold(mutex);
        set = true;
        changed.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> hold(mutex);
        set = false;
    }
    bool IsSet() {
        std::lock_guard<std::mutex> hold(mutex);
        return set;
    }
    // Waits up to timeoutMs milliseconds (-1: for ever); true when the event is set.
    bool Wait(long timeoutMs) {
        std::unique_lock<std::mutex> hold(mutex);
        if (timeoutMs < 0) {
            changed.wait(hold, [this] { return set; });
            return true;
        }
        return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return set; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool set;
};

}  // namespace plat
