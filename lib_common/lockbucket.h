// The lock-bucket hash: spreads tables over the record-lock servers' buckets by the table's full
// name (environment, "|", table, upper-cased). Table definitions and the lock servers both use it,
// so a table lands in the same bucket on every server and in every run.
#pragma once
#include "lib_base/types.h"

constexpr u32 kLockBuckets = 512;

// h = h * 31 + byte, each byte taken as a signed 8-bit value, in 32-bit unsigned arithmetic;
// the bucket is the low 9 bits. A null name is bucket 0.
inline u32 LockBucket(const char* fullName) {
    u32 h = 0;
    for (const char* p = fullName; p && *p; ++p) {
        h = h * 31 + static_cast<u32>(static_cast<i32>(static_cast<i8>(*p)));
    }
    return h & (kLockBuckets - 1);
}
