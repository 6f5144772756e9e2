#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "server/runtime/traceserver.h"

namespace {

// A connection adds two-line texts while a monitor takes lines: every line arrives once, in
// order, and the two lines of one text are never split by another text's lines.
TEST(TraceServerThreads, LinesTakenWhileAddedArriveWholeAndInOrder) {
    tTraceServer traces;
    constexpr int kTexts = 5000;
    std::atomic<bool> done{false};
    std::thread connection([&] {
        for (int i = 0; i < kTexts; ++i) {
            const std::string text = std::to_string(i) + "\n" + std::to_string(i);
            traces.Add("w", i, text.c_str());
        }
        done.store(true);
    });
    int next = 0;
    bool secondHalf = false;
    bool allOk = true;
    f64 elapsed = 0;
    tString text;
    while (next < kTexts && allOk) {
        text.Clear();
        if (!traces.Take(elapsed, text)) {
            if (done.load() && traces.Count() == 0) break;
            std::this_thread::yield();
            continue;
        }
        const std::string want = (secondHalf ? "(...) " : "(w) ") + std::to_string(next);
        allOk = want == text.GetText() && elapsed == (secondHalf ? 0 : next);
        if (secondHalf) ++next;
        secondHalf = !secondHalf;
    }
    connection.join();
    EXPECT_TRUE(allOk) << "at text " << next << ": " << text.GetText();
    EXPECT_EQ(next, kTexts);
    EXPECT_EQ(traces.Count(), 0);
}

}  // namespace
