// The clock seam and the local-time breakdown.
#include <atomic>
#include <ctime>

#include "lib_base/misc.h"

namespace {

i64 SystemClock() { return static_cast<i64>(std::time(nullptr)); }

std::atomic<tClockSource> clockSource{&SystemClock};

}  // namespace

void SetClockSource(tClockSource source) { clockSource = source ? source : &SystemClock; }

i64 CurrentTime() { return clockSource.load()(); }

std::tm& LocalTimeOf(i64 time, std::tm& record) {
    const time_t t = static_cast<time_t>(time);
    if (time < 0 || !localtime_r(&t, &record)) record = std::tm{};
    return record;
}
