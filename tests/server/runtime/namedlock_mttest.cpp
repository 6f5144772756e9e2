#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "server/runtime/namedlock.h"

namespace {

// Threads released together ask for the same new names: each name yields one node for all.
TEST(NamedLockThreads, ThreadsAskingForANewNameShareOneNode) {
    tNamedLock registry;
    constexpr int kThreads = 8;
    constexpr int kNames = 200;
    plat::ManualResetEvent go;
    std::vector<std::vector<tNamedNode*>> got(kThreads, std::vector<tNamedNode*>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            go.Wait(-1);
            for (int n = 0; n < kNames; ++n) {
                const int name = (t % 2) ? n : kNames - 1 - n;  // half go down, half up
                got[t][name] = registry.GetNode("ENV", ("T" + std::to_string(name)).c_str());
            }
        });
    }
    go.Set();
    for (auto& th : threads) th.join();
    EXPECT_EQ(registry.CountNodes(), kNames);
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(got[t], got[0]);
}

// A node serialises the work of every thread that asks for its name.
TEST(NamedLockThreads, HoldingANodeExcludesOtherHoldersOfTheName) {
    tNamedLock registry;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    long work = 0;  // guarded by the node
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                tNamedNode* node = registry.GetNode("DADOS", "SA1010");
                tWaiting hold(node, __FILE__, __LINE__);
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                ++work;
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(work, 6 * 2000);
}

}  // namespace
