// The counters that both lock servers show in the server's statistics.
#pragma once
#include <atomic>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

// Counters are raised without a lock; reading with reset takes the count and sets 0 in one step,
// so that no count raised in between is lost.
inline void Count(std::atomic<u32>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

inline u32 ReadCounter(std::atomic<u32>& counter, bool reset) {
    return reset ? counter.exchange(0, std::memory_order_relaxed)
                 : counter.load(std::memory_order_relaxed);
}

// Appends the label, the count in decimal and "\n".
inline void AppendCounterLine(tString& text, const char* label, u32 value) {
    text += label;
    text += UIntToStr(value);
    text += "\n";
}
