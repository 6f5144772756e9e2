// A process-wide function that tests may replace: the seam behind the server's factories.
#pragma once
#include <utility>

#include "lib_base/critsec.h"

// The installed replacement, empty while there is none. Any thread may set it or take a copy;
// callers call the copy outside the lock.
template <class Fn>
class tReplaceable {
public:
    void Set(Fn fn) {
        tWaiting hold(&lock, __FILE__, __LINE__);
        current = std::move(fn);
    }
    Fn Get() {
        tWaiting hold(&lock, __FILE__, __LINE__);
        return current;
    }

private:
    tCriticalSection lock;
    Fn current;  // guarded by lock
};
