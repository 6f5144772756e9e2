// The processor-load meter: counter ids, the load on this machine, and the 20-sample ring with
// its statistics over scripted processor times.
#include "lib_common/pdhquery.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr const char* kEnglishPath = "\\Processor(_Total)\\% Processor Time";

TEST(PdhQuery, IdsComeOnlyFromKnownPaths) {
    tPdhQuery query;
    EXPECT_EQ(query.AddCounter(kEnglishPath), -1);  // not open yet
    EXPECT_FALSE(query.Collect());
    ASSERT_TRUE(query.Open());
    EXPECT_FALSE(query.Collect());  // nothing to collect for
    EXPECT_EQ(query.AddCounter("\\Memory\\Available Bytes"), -1);
    EXPECT_EQ(query.AddCounter(nullptr), -1);
    EXPECT_EQ(query.AddCounter("\\Processador(_Total)\\% tempo de processador"), 0);
    EXPECT_EQ(query.AddCounter("\\PROCESADOR(_total)\\% de tiempo de procesador"), 1);
    EXPECT_EQ(query.AddCounter(kEnglishPath), 2);

    EXPECT_EQ(query.GetValue(0), tPdhQuery::kNoValue);  // nothing collected yet
    EXPECT_EQ(query.GetValue(7), tPdhQuery::kNoValue);
    EXPECT_TRUE(query.RemoveCounter(1));
    EXPECT_FALSE(query.RemoveCounter(1));
    EXPECT_FALSE(query.RemoveCounter(7));
    ASSERT_TRUE(query.Collect());
    EXPECT_EQ(query.GetValue(1), tPdhQuery::kNoValue);
    i32 low, high, mean;
    EXPECT_FALSE(query.GetStatistics(1, low, high, mean));
    EXPECT_FALSE(query.GetStatistics(7, low, high, mean));
    query.Close();
    EXPECT_EQ(query.GetValue(0), tPdhQuery::kNoValue);
}

TEST(PdhQuery, ProcessorLoadOfThisMachineIsAPercentage) {
    tPdhQuery query;
    ASSERT_TRUE(query.Open());
    const i32 id = query.AddCounter(kEnglishPath);
    ASSERT_EQ(id, 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(query.Collect());
        const i32 value = query.GetValue(id);
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 100);
    }
}

// Cumulative times whose k-th interval after the first sample is k percent busy.
struct ScriptedTimes {
    u64 busy = 1000;
    u64 total = 10000;
    int interval = 0;
    bool operator()(plat::CpuTimes& out) {
        busy += static_cast<u64>(interval);
        total += interval > 0 ? 100 : 0;
        ++interval;
        out.busy = busy;
        out.total = total;
        return true;
    }
};

TEST(PdhQuery, RingKeepsTheLastTwentySamples) {
    tPdhQuery query{ScriptedTimes()};
    ASSERT_TRUE(query.Open());
    const i32 id = query.AddCounter(kEnglishPath);
    ASSERT_TRUE(query.Collect());
    i32 low = -1, high = -1, mean = -1;
    ASSERT_TRUE(query.GetStatistics(id, low, high, mean));
    EXPECT_EQ(std::vector<i32>({low, high, mean}), std::vector<i32>({0, 0, 0}));

    const struct {
        int samples;  // GetValue calls so far
        i32 low, high, mean;
    } checkpoints[] = {{5, 2, 5, 3}, {20, 2, 20, 11}, {25, 7, 25, 16}};
    int taken = 0;
    for (const auto& c : checkpoints) {
        SCOPED_TRACE(c.samples);
        for (; taken < c.samples; ++taken) {
            ASSERT_TRUE(query.Collect());
            ASSERT_EQ(query.GetValue(id), taken + 1);
        }
        ASSERT_TRUE(query.GetStatistics(id, low, high, mean));
        EXPECT_EQ(std::vector<i32>({low, high, mean}), std::vector<i32>({c.low, c.high, c.mean}));
    }
}

}  // namespace
