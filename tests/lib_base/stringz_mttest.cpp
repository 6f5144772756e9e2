#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/stringz.h"

namespace {

// Each thread tokenises its own text at the same time; with one shared tokeniser state the
// sequences would mix.
TEST(StrTok, EveryThreadKeepsItsOwnState) {
    constexpr int kThreads = 8;
    std::vector<std::string> joined(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &joined] {
            for (int round = 0; round < 2000; ++round) {
                std::string text = "t" + std::to_string(t) + ",a,,b," + std::to_string(t);
                std::vector<char> buffer(text.begin(), text.end());
                buffer.push_back(0);
                std::string out;
                for (char* tok = StrTok(buffer.data(), ","); tok; tok = StrTok(nullptr, ",")) {
                    out += tok;
                    out += '|';
                }
                if (round == 0 || out != joined[t]) joined[t] = out;
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(joined[t], "t" + std::to_string(t) + "|a|b|" + std::to_string(t) + "|");
    }
}

}  // namespace
