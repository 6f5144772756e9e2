// Fixes the clock (at 1700000000, 14/11/2023 22:13:20, unless told otherwise) and the zone at
// UTC while it lives, so that time stamps are exact; both are restored afterwards. Make it
// before threads start; Set moves the clock.
#pragma once
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "lib_base/misc.h"
#include "lib_base/types.h"

namespace gmtest {

constexpr i64 kFixedTime = 1700000000;
constexpr const char* kFixedStamp = "14/11/2023 22:13:20";

class FixedClock {
public:
    explicit FixedClock(i64 time = kFixedTime) {
        const char* tz = std::getenv("TZ");
        hadTz = tz != nullptr;
        if (tz) savedTz = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
        Set(time);
        SetClockSource([]() -> i64 { return Now().load(); });
    }
    ~FixedClock() {
        SetClockSource(nullptr);
        if (hadTz) {
            setenv("TZ", savedTz.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

    static void Set(i64 time) { Now().store(time); }

private:
    static std::atomic<i64>& Now() {
        static std::atomic<i64> now{kFixedTime};
        return now;
    }

    bool hadTz = false;
    std::string savedTz;
};

}  // namespace gmtest
