#include "lib_base/mstimer.h"

#include <gtest/gtest.h>

#include "platform/thread.h"

namespace {

// Elapsed counts from the start; a restart moves the start to that reading, so a timer restarted
// later than another one started with it always shows less.
TEST(MSTimer, ElapsedCountsFromStartAndRestartMovesTheStart) {
    tMSTimer kept;
    tMSTimer restarted;
    kept.Start();
    restarted.Start();
    plat::Sleep(30);
    const f64 first = restarted.Elapsed(true);
    EXPECT_GE(first, 0.029);  // the clock reads whole milliseconds
    EXPECT_LT(first, 3600.0);
    const f64 sinceRestart = restarted.Elapsed();
    const f64 sinceStart = kept.Elapsed();
    EXPECT_GE(sinceRestart, 0.0);
    EXPECT_LT(sinceRestart, sinceStart);
    EXPECT_GE(sinceStart, first);
    EXPECT_GE(kept.Elapsed(), sinceStart);  // without restart the start stays
}

}  // namespace
