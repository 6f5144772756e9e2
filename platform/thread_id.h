// The calling thread's operating-system id, as the 32-bit number that logs and traces print.
#pragma once
#include <cstdint>

namespace plat {
std::uint32_t CurrentThreadId();
}  // namespace plat
