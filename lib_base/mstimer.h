// tMSTimer: elapsed times in seconds with millisecond resolution, for traces and statistics.
#pragma once
#include "lib_base/types.h"

// Measures from Start to each Elapsed. The clock is monotonic, so a change of the system time
// never makes an elapsed time jump or go negative. Not locked: one thread at a time, or the
// owner's lock.
class tMSTimer {
public:
    tMSTimer() = default;  // reads no clock: call Start before Elapsed
    virtual ~tMSTimer() = default;

    void Start();
    // Seconds since the start; with restart set, the start moves to this reading.
    f64 Elapsed(bool restart = false);

private:
    void ReadClock();

    // The last clock reading, in whole seconds and milliseconds.
    i64 lastSeconds = 0;
    i32 lastMilliseconds = 0;
    // In seconds: the start, the last reading and the last elapsed value.
    f64 start = 0;
    f64 current = 0;
    f64 elapsed = 0;
};
