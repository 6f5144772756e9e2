// Starting detached threads and sleeping: the operating-system side of tThread.
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

constexpr std::size_t kThreadStackBytes = 262144;
// The error of a start that may succeed when tried again (EAGAIN: resources short for now).
constexpr int kThreadStartAgain = 11;

// Runs body(arg) on a new detached thread with a stack of kThreadStackBytes. Returns 0, or the
// error number of the failed start.
int StartThread(void (*body)(void* arg), void* arg);

// Suspends the calling thread for at least ms milliseconds (0 only yields).
void Sleep(std::uint32_t ms);

}  // namespace plat
