// Processor times: the machine's counters are read, consistent and never run backwards.
#include "platform/cputimes.h"

#include <gtest/gtest.h>

namespace {

TEST(CpuTimes, CountersAreConsistentAndGrow) {
    plat::CpuTimes first;
    plat::CpuTimes second;
    ASSERT_TRUE(plat::ReadCpuTimes(first));
    ASSERT_TRUE(plat::ReadCpuTimes(second));
    EXPECT_GT(first.total, 0u);
    EXPECT_LE(first.busy, first.total);
    EXPECT_LE(second.busy, second.total);
    EXPECT_GE(second.busy, first.busy);
    EXPECT_GE(second.total, first.total);
}

}  // namespace
