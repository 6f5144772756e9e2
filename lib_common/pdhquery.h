// tPdhQuery: the processor-load meter. It samples the machine's processor times when collected
// and gives the load between the last two collects as whole percent, per counter.
#pragma once
#include <functional>

#include "lib_base/list.h"
#include "lib_base/types.h"
#include "platform/cputimes.h"

class tPdhCounter;

// Counters are added by path; the only counter this machine offers is the processor time of all
// processors, under its English, Portuguese or Spanish path ("\Processor(_Total)\% Processor
// Time", any case). Each counter keeps a ring of its last 20 raw samples for GetStatistics.
// One thread at a time (the owner guards it).
class tPdhQuery {
public:
    using tCpuTimesSource = std::function<bool(plat::CpuTimes&)>;
    static constexpr i32 kNoValue = -999;
    static constexpr i32 kRingSize = 20;

    // The source of processor times: the machine's by default; tests give scripted ones.
    explicit tPdhQuery(tCpuTimesSource source = plat::ReadCpuTimes);
    virtual ~tPdhQuery();
    tPdhQuery(const tPdhQuery&) = delete;
    tPdhQuery& operator=(const tPdhQuery&) = delete;

    bool Open();
    void Close();  // removes every counter; their ids then give kNoValue
    // The new counter's id, counted from 0; -1 (no id used) for a path this machine lacks or a
    // query that is not open.
    i32 AddCounter(const char* path);
    bool RemoveCounter(i32 id);  // false for an unknown or removed counter; the id stays known
    bool Collect();              // false when not open, without counters, or unreadable times
    // The load in percent (0..100) between the last two collects (the first collect counts
    // from boot), then records that sample in the counter's ring. kNoValue for an unknown or
    // removed counter or before the first collect.
    i32 GetValue(i32 id);
    // Minimum, maximum and mean load over consecutive pairs of the ring's samples, oldest first;
    // all three 0 when the ring has no such pair. False for an unknown or removed counter.
    bool GetStatistics(i32 id, i32& minimum, i32& maximum, i32& mean);

private:
    tPdhCounter* Find(i32 id) const;  // null when unknown or removed

    const tCpuTimesSource source;
    tAutoArray<tPdhCounter> counters;
    i32 nextId = 0;
    bool open = false;
    i32 collects = 0;  // since Open
    plat::CpuTimes previous;
    plat::CpuTimes current;
};
