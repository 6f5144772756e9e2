#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/toklist.h"
#include "platform/event.h"

namespace {

// Two threads split texts at the same time, many times over; with a shared tokeniser state
// their tokens would mix or go missing.
TEST(TokList, TwoThreadsTokenisingAtOnceEachGetTheirOwnTokens) {
    constexpr int kRounds = 5000;
    plat::ManualResetEvent start;
    std::atomic<int> mismatches{0};
    auto work = [&](const std::string& name, const char* separators) {
        std::string text;
        std::vector<std::string> want;
        for (int i = 0; i < 20; ++i) {
            want.push_back(name + std::to_string(i));
            text += separators[0] + want.back() + separators[0];
        }
        start.Wait(-1);
        for (int round = 0; round < kRounds; ++round) {
            tTokList list(text.c_str(), separators);
            std::vector<std::string> got;
            tIterator<tString> it(&list);
            while (tString* token = it.Next()) got.push_back(token->GetText());
            if (got != want) mismatches.fetch_add(1);
        }
    };
    std::thread a(work, "alpha", ",");
    std::thread b(work, "beta", ";");
    start.Set();  // both begin together
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
