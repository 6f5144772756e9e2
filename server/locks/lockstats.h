// The counter lines that both lock servers append to the server's statistics.
#pragma once
#include <atomic>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

// Appends the label, the count in decimal and "\n"; with reset the counter is read and set to 0
// in one step, so that no count raised in between is lost.
inline void AppendCounterLine(tString& text, const char* label, std::atomic<u32>& counter,
                              bool reset) {
    const u32 value = reset ? counter.exchange(0, std::memory_order_relaxed)
                            : counter.load(std::memory_order_relaxed);
    text += label;
    text += UIntToStr(value);
    text += "\n";
}

inline void Count(std::atomic<u32>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
