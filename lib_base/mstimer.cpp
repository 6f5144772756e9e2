// The millisecond timer over the monotonic clock.
#include "lib_base/mstimer.h"

#include <chrono>

void tMSTimer::ReadClock() {
    const i64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
    lastSeconds = ms / 1000;
    lastMilliseconds = static_cast<i32>(ms % 1000);
    current = static_cast<f64>(lastSeconds) + lastMilliseconds / 1000.0;
}

void tMSTimer::Start() {
    ReadClock();
    start = current;
}

f64 tMSTimer::Elapsed(bool restart) {
    ReadClock();
    elapsed = current - start;
    if (restart) start = current;
    return elapsed;
}
