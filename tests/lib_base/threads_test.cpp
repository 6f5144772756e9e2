#include "lib_base/threads.h"

#include <gtest/gtest.h>

namespace {

TEST(ThreadTypeName, NamesTheKindsThisSystemCreates) {
    const struct {
        i32 type;
        const char* name;
    } cases[] = {{0, "Thread"},           {1, "WThread"},         {7, "SockServer"},
                 {10, "MonitSockThread"}, {24, "GenServer"},      {99, "*** UNKNOW ***"},
                 {2, "*** UNKNOW ***"},   {-1, "*** UNKNOW ***"}, {38, "*** UNKNOW ***"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_STREQ(ThreadTypeName(c.type), c.name);
    }
}

TEST(Semaphore, StaysSetForEveryLaterWait) {
    tSemaphore event;
    EXPECT_FALSE(event.Wait(0));
    EXPECT_FALSE(event.Wait(20));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(-1));
    EXPECT_TRUE(event.Wait(20));
}

}  // namespace
