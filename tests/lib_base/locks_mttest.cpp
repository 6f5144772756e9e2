#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "lib_base/critsec.h"
#include "lib_base/rwlock.h"
#include "platform/event.h"

namespace {

// Readers and writers both take the lock exclusively: no two holders ever overlap.
TEST(RWLock, ReadersAndWritersNeverOverlap) {
    tRWLock lock("stress");
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    long total = 0;  // guarded by lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                if ((t + i) % 2) {
                    tReading hold(&lock, __FILE__, __LINE__);
                    if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                    ++total;
                    inside.fetch_sub(1);
                } else {
                    tWriting hold(&lock, __FILE__, __LINE__);
                    if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                    ++total;
                    inside.fetch_sub(1);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(total, 8 * 5000);
}

// TryEnter declines while another thread waits for the section.
TEST(CriticalSection, TryEnterDeclinesWhileOthersWait) {
    tCriticalSection section;
    section.Enter();
    plat::ManualResetEvent started;
    std::thread waiter([&] {
        started.Set();
        tWaiting hold(&section, __FILE__, __LINE__);
    });
    started.Wait(-1);
    while (section.TryEnter()) section.Leave();  // true until the waiter blocks in Enter
    section.Leave();
    waiter.join();
    EXPECT_TRUE(section.TryEnter());
    section.Leave();
}

TEST(ManualResetEvent, WakesEveryWaiterUntilReset) {
    plat::ManualResetEvent event;
    EXPECT_FALSE(event.Wait(1));
    std::vector<std::thread> waiters;
    std::atomic<int> woken{0};
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(-1)) woken.fetch_add(1);
        });
    }
    event.Set();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

}  // namespace
