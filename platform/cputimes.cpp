// Processor times from the first line of /proc/stat:
// "cpu  user nice system idle iowait irq softirq steal guest guest_nice". Guest times are
// already inside user and nice, so they are not added again.
#include "platform/cputimes.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

namespace plat {

bool ReadCpuTimes(CpuTimes& out) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen("/proc/stat", "re"),
                                                               &std::fclose);
    if (!file) return false;
    std::uint64_t t[8] = {};  // user nice system idle iowait irq softirq steal
    const int fields = std::fscanf(file.get(),
                                   "cpu %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
                                   " %" SCNu64 " %" SCNu64 " %" SCNu64,
                                   &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6], &t[7]);
    if (fields < 4) return false;  // older kernels give fewer fields; the rest stay 0
    std::uint64_t total = 0;
    for (std::uint64_t v : t) total += v;
    out.total = total;
    out.busy = total - t[3] - t[4];
    return true;
}

}  // namespace plat
