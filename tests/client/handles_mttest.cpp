// The handle table from several threads at once: every live handle names its own object, and a
// released one names nothing, whichever thread asks.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "client/handles.h"

namespace {

class tMarked : public tHandleObject {
public:
    explicit tMarked(int mark) : mark(mark) {}
    const int mark;
};

}  // namespace

TEST(HandleTableThreads, LiveHandlesNameTheirOwnObjectsAndReleasedOnesNothing) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            std::vector<u32> held;
            for (int i = 0; i < kRounds; ++i) {
                const int mark = t * kRounds + i;
                const u32 handle = AddHandle(std::make_shared<tMarked>(mark));
                auto found = FindHandleOf<tMarked>(handle);
                if (handle == 0 || !found || found->mark != mark) ++wrong;
                held.push_back(handle);
                if (i % 3 == 0) {  // release an older one and check it is gone
                    const u32 old = held[held.size() / 2];
                    held.erase(held.begin() + static_cast<long>(held.size() / 2));
                    if (!RemoveHandle(old) || FindHandle(old)) ++wrong;
                }
            }
            for (u32 handle : held) {
                if (!RemoveHandle(handle)) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
