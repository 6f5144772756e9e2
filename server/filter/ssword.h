// The 32-bit little-endian words of the runtime's table images.
#pragma once
#include "lib_base/types.h"

inline u32 ssWord(const u8* at) {
    return u32(at[0]) | u32(at[1]) << 8 | u32(at[2]) << 16 | u32(at[3]) << 24;
}
