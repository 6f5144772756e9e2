// The lock bucket of a table's full name.
#include "server/locks/lockbucket.h"

#include <gtest/gtest.h>

namespace {

TEST(LockBucket, HashesSignedBytesIntoNineBits) {
    const struct {
        const char* name;
        u32 bucket;
    } cases[] = {
        {"", 0},
        {"A", 65},
        {"AB", 33},          // 65 * 31 + 66 = 2081
        {"\xE9", 489},       // -23 as 32 bits: 0xFFFFFFE9
        {"ENV|T", 229},      // 69, 2217, 68813, 2133327, 66133221
        {"ENV|T\xFF", 442},  // 66133221 * 31 - 1 = 2050129850
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LockBucketOf(c.name), c.bucket);
    }
}

}  // namespace
