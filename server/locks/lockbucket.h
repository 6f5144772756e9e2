// The lock bucket of a table: one of the record lock server's 512 buckets, chosen by a hash of
// the table's full name (environment, "|", table name, upper-cased). The same name gives the same
// bucket on every run and every machine.
#pragma once
#include "lib_base/types.h"

constexpr i32 kLockBucketCount = 512;

inline bool IsValidLockBucket(i32 hash) { return hash >= 0 && hash < kLockBucketCount; }

// h = h * 31 + b over the name's bytes taken as signed 8-bit values, in 32-bit unsigned
// arithmetic; the bucket is the low 9 bits.
inline u32 LockBucketOf(const char* fullName) {
    u32 h = 0;
    for (const char* p = fullName; *p; ++p) {
        h = h * 31u + static_cast<u32>(static_cast<i32>(static_cast<signed char>(*p)));
    }
    return h & static_cast<u32>(kLockBucketCount - 1);
}
