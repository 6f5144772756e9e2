#include "server/runtime/traceserver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TakenLine {
    f64 elapsed;
    std::string text;
    bool operator==(const TakenLine& o) const { return elapsed == o.elapsed && text == o.text; }
};

void PrintTo(const TakenLine& line, std::ostream* os) {
    *os << "{" << line.elapsed << ", \"" << line.text << "\"}";
}

std::vector<TakenLine> TakeAll(tTraceServer& traces) {
    std::vector<TakenLine> lines;
    f64 elapsed = 0;
    tString text;
    while (traces.Take(elapsed, text)) {
        lines.push_back({elapsed, text.GetText()});
        text.Clear();
    }
    return lines;
}

// Each text becomes lines: the first part with the routine and seconds, further parts under
// "..." with 0 seconds, no empty line after a final newline.
TEST(TraceServer, AddedTextsComeBackAsLinesOldestFirst) {
    const struct {
        const char* routine;
        const char* text;
        std::vector<TakenLine> lines;
    } cases[] = {
        {"tDBServer::Skip", "a\nb\n", {{1.5, "(tDBServer::Skip) a"}, {0, "(...) b"}}},
        {"R", "", {{1.5, "(R) "}}},
        {"R", "a\n\nb", {{1.5, "(R) a"}, {0, "(...) "}, {0, "(...) b"}}},
        {"", "single line", {{1.5, "() single line"}}},
        {nullptr, nullptr, {{1.5, "() "}}},
        {"R", "\n", {{1.5, "(R) "}}},
        {"R", "\n\n", {{1.5, "(R) "}, {0, "(...) "}}},
        {"R", "a\r\nb", {{1.5, "(R) a\r"}, {0, "(...) b"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        tTraceServer traces;
        traces.Add(c.routine, 1.5, c.text);
        EXPECT_EQ(traces.Count(), static_cast<i32>(c.lines.size()));
        EXPECT_EQ(TakeAll(traces), c.lines);
        EXPECT_EQ(traces.Count(), 0);
    }
}

// Take on an empty queue answers false and leaves both outputs as they were; Take appends.
TEST(TraceServer, TakeAppendsAndLeavesOutputsAloneWhenEmpty) {
    tTraceServer traces;
    f64 elapsed = 7.25;
    tString text("kept");
    EXPECT_FALSE(traces.Take(elapsed, text));
    EXPECT_EQ(elapsed, 7.25);
    EXPECT_STREQ(text, "kept");

    traces.Add("first", 0.5, "one");
    traces.Add("second", 2.0, "two\nthree");
    ASSERT_TRUE(traces.Take(elapsed, text));
    EXPECT_EQ(elapsed, 0.5);
    EXPECT_STREQ(text, "kept(first) one");
    traces.Clear();
    EXPECT_EQ(traces.Count(), 0);
    EXPECT_FALSE(traces.Take(elapsed, text));
    EXPECT_STREQ(text, "kept(first) one");
}

}  // namespace
