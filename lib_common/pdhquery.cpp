// The processor-load meter over the machine's cumulative processor times.
//
// Counter ring:
//  (1) 0 <= sampleCount <= kRingSize; 0 <= ringPos, firstSample < kRingSize.
//  (2) The samples, oldest first, are ring[(firstSample + i) % kRingSize] for i < sampleCount;
//      ringPos is the slot of the next one.
#include "lib_common/pdhquery.h"

#include <strings.h>

#include <algorithm>

#include "lib_base/gmlalloc.h"

namespace {

constexpr const char* kProcessorPaths[] = {
    "\\Processor(_Total)\\% Processor Time",
    "\\Processador(_Total)\\% tempo de processador",
    "\\Procesador(_Total)\\% de tiempo de procesador",
};

bool IsProcessorPath(const char* path) {
    if (!path) return false;
    return std::any_of(std::begin(kProcessorPaths), std::end(kProcessorPaths),
                       [path](const char* known) { return strcasecmp(path, known) == 0; });
}

// Busy share of the interval between two samples in whole percent; false for an empty interval.
// A counter that went backwards (seen on some virtual machines) counts as no time.
bool LoadBetween(const plat::CpuTimes& from, const plat::CpuTimes& to, i32& percent) {
    const u64 total = to.total > from.total ? to.total - from.total : 0;
    const u64 busy = to.busy > from.busy ? to.busy - from.busy : 0;
    if (total == 0) return false;
    percent = static_cast<i32>(std::min<u64>(busy * 100 / total, 100));
    return true;
}

}  // namespace

class tPdhCounter {
public:
    explicit tPdhCounter(i32 id) : id(id) {}
    virtual ~tPdhCounter() = default;
    tPdhCounter(const tPdhCounter&) = delete;
    tPdhCounter& operator=(const tPdhCounter&) = delete;

    GML_CLASS_ALLOCATOR(tPdhCounter, Mem_Object)

    void AddSample(const plat::CpuTimes& sample) {
        ring[ringPos] = sample;
        sampleCount = std::min(sampleCount + 1, tPdhQuery::kRingSize);
        ringPos = (ringPos + 1) % tPdhQuery::kRingSize;
        if (sampleCount == tPdhQuery::kRingSize) firstSample = ringPos;
    }
    const plat::CpuTimes& Sample(i32 i) const {
        return ring[(firstSample + i) % tPdhQuery::kRingSize];
    }

    const i32 id;
    bool removed = false;
    i32 value = 0;  // the last load given
    i32 ringPos = 0;
    i32 firstSample = 0;
    i32 sampleCount = 0;
    plat::CpuTimes ring[tPdhQuery::kRingSize];
};

tPdhQuery::tPdhQuery(tCpuTimesSource source) : source(std::move(source)) {}

tPdhQuery::~tPdhQuery() = default;

bool tPdhQuery::Open() {
    open = true;
    collects = 0;
    return true;
}

void tPdhQuery::Close() {
    for (i32 i = 0; i < counters.Count(); ++i) counters[i]->removed = true;
    open = false;
}

i32 tPdhQuery::AddCounter(const char* path) {
    if (!open || !IsProcessorPath(path)) return -1;
    counters.Add(new tPdhCounter(nextId));
    return nextId++;
}

tPdhCounter* tPdhQuery::Find(i32 id) const {
    for (i32 i = 0; i < counters.Count(); ++i) {
        if (counters[i]->id == id) return counters[i]->removed ? nullptr : counters[i];
    }
    return nullptr;
}

bool tPdhQuery::RemoveCounter(i32 id) {
    tPdhCounter* counter = Find(id);
    if (!counter) return false;
    counter->removed = true;
    return true;
}

bool tPdhQuery::Collect() {
    plat::CpuTimes sample;
    if (!open || counters.IsEmpty() || !source(sample)) return false;
    previous = collects > 0 ? current : plat::CpuTimes();
    current = sample;
    ++collects;
    return true;
}

i32 tPdhQuery::GetValue(i32 id) {
    tPdhCounter* counter = Find(id);
    if (!counter || collects == 0) return kNoValue;
    LoadBetween(previous, current, counter->value);  // an empty interval keeps the last load
    counter->AddSample(current);
    return counter->value;
}

bool tPdhQuery::GetStatistics(i32 id, i32& minimum, i32& maximum, i32& mean) {
    const tPdhCounter* counter = Find(id);
    if (!counter) return false;
    minimum = maximum = mean = 0;
    i32 pairs = 0;
    i64 sum = 0;
    for (i32 i = 1; i < counter->sampleCount; ++i) {
        i32 percent;
        if (!LoadBetween(counter->Sample(i - 1), counter->Sample(i), percent)) continue;
        minimum = pairs == 0 ? percent : std::min(minimum, percent);
        maximum = pairs == 0 ? percent : std::max(maximum, percent);
        sum += percent;
        ++pairs;
    }
    if (pairs > 0) mean = static_cast<i32>(sum / pairs);
    return true;
}
