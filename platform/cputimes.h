// The processor times of the whole machine, for the processor-load meter.
#pragma once
#include <cstdint>

namespace plat {

// Cumulative times of all processors since boot, in clock ticks. Idle counts waiting for I/O;
// busy is everything else (user, nice, system, interrupts, stolen).
struct CpuTimes {
    std::uint64_t busy = 0;
    std::uint64_t total = 0;
};

// Reads the machine's line of /proc/stat; false when it cannot be read or parsed.
bool ReadCpuTimes(CpuTimes& out);

}  // namespace plat
