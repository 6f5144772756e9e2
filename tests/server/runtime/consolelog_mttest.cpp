#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "server/runtime/consolelog.h"
#include "tests/server/process/support/consolefixture.h"

namespace {

using gmtest::ConsoleTest;
using gmtest::kConsolePrefix;
using gmtest::ReadFileText;
using gmtest::SplitLines;

std::string LineText(int thread, int line) {
    return "thread " + std::to_string(thread) + " line " + std::to_string(line) + " " +
           std::string(static_cast<size_t>(line % 17), '*');
}

// Threads print while the log rotates under them: standard output holds every line once and
// whole, each thread's lines in its order; both files hold only whole lines with their prefix.
TEST_F(ConsoleTest, ThreadsPrintingAtOnceNeverInterleaveALine) {
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    constexpr int kMaxSize = 8192;
    OpenWith("ConsoleMaxSize=" + std::to_string(kMaxSize) + "\n");
    plat::ManualResetEvent go;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            go.Wait(-1);
            for (int i = 0; i < kLines; ++i) console->Write((LineText(t, i) + "\n").c_str());
        });
    }
    go.Set();
    for (auto& th : threads) th.join();
    console->Close();

    std::set<std::string> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLines; ++i) expected.insert(LineText(t, i));
    }
    std::vector<int> nextOf(kThreads, 0);
    int wrong = 0;
    for (const std::string& line : SplitLines(Standard())) {
        int t = -1;
        int i = -1;
        if (std::sscanf(line.c_str(), "thread %d line %d", &t, &i) != 2 || t < 0 || t >= kThreads ||
            i != nextOf[t] || line != LineText(t, i)) {
            ++wrong;
            continue;
        }
        ++nextOf[t];
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(nextOf, std::vector<int>(kThreads, kLines));

    const std::string log = ReadFileText(dir.File("gatemillconsole.log"));
    const std::string backup = ReadFileText(dir.File("gatemillconsole.bak"));
    EXPECT_FALSE(backup.empty());  // it rotated at least once
    EXPECT_LE(log.size(), static_cast<size_t>(kMaxSize));
    for (const std::string& text : {log, backup}) {
        for (const std::string& line : SplitLines(text)) {
            const std::string prefix = kConsolePrefix;
            ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
            ASSERT_EQ(expected.count(line.substr(prefix.size())), 1u) << line;
        }
    }
}

}  // namespace
