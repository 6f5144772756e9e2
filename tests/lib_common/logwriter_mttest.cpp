// Eight threads writing the log at once: every line stays whole and none is lost, across a
// rotation.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lib_common/logwriter.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

// A whole line "dd/mm/yyyy hh:mm:ss : T<thread>#<number>" and the body: gives thread and number.
bool ParseLine(const std::string& text, const std::string& body, int& thread, int& number) {
    const std::string shape = "99/99/9999 99:99:99 : T9#";
    if (text.size() < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (shape[i] == '9' ? !digit : text[i] != shape[i]) return false;
    }
    thread = text[shape.size() - 2] - '0';
    size_t end = 0;
    number = std::stoi(text.substr(shape.size()), &end);
    return text.compare(shape.size() + end, std::string::npos, body) == 0;
}

TEST(LogWriterThreads, ConcurrentLinesStayWholeAcrossRotation) {
    gmtest::ConsoleCapture console;
    gmtest::TempDir dir;
    SetLogPath(dir.File("gatemill.log").c_str());
    constexpr int kThreads = 8;
    constexpr int kLines = 150;
    const std::string body(900, '.');  // 8 x 150 lines of ~930 bytes: one rotation

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &body] {
            for (int i = 0; i < kLines; ++i) {
                const std::string message =
                    "T" + std::to_string(t) + "#" + std::to_string(i) + body;
                EXPECT_TRUE(WriteLog(message.c_str(), 0));
            }
        });
    }
    for (auto& th : threads) th.join();
    SetLogPath("");

    const std::string all = gmtest::ReadFileText(dir.File("gatemill.bak")) +
                            gmtest::ReadFileText(dir.File("gatemill.log"));
    std::map<int, int> next;  // per thread, the line number expected next
    std::istringstream in(all);
    std::string text;
    int count = 0;
    while (std::getline(in, text)) {
        int t = 0;
        int n = 0;
        ASSERT_TRUE(ParseLine(text, body, t, n)) << text.substr(0, 60);
        EXPECT_EQ(n, next[t]++);  // each thread's lines whole and in its order
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
    EXPECT_FALSE(gmtest::ReadFileText(dir.File("gatemill.bak")).empty());  // it did rotate
    EXPECT_LT(gmtest::ReadFileText(dir.File("gatemill.log")).size(),
              static_cast<size_t>(kLogMaxSize));
}

}  // namespace
