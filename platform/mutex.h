// The recursive mutex under tCriticalSection: nesting on one thread is allowed, and it counts
// the threads waiting to enter so that TryEnter can decline when others wait.
#pragma once
#include <atomic>
#include <mutex>

namespace plat {

class RecursiveMutex {
public:
    RecursiveMutex() = default;
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void Lock() {
        waiting.fetch_add(1, std::memory_order_relaxed);
        mutex.lock();
        waiting.fetch_sub(1, std::memory_order_relaxed);
    }
    void Unlock() { mutex.unlock(); }
    // Threads blocked in Lock right now; a hint, read without the lock.
    int Waiting() const { return waiting.load(std::memory_order_relaxed); }

private:
    std::recursive_mutex mutex;
    std::atomic<int> waiting{0};
};

}  // namespace plat
