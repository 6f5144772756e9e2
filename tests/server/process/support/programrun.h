// Helpers of the program's tests: a free loopback port, a command line as main receives it, and
// texts expected in order in what a run printed.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_base/sockets.h"
#include "tests/lib_base/support/loopback.h"

namespace gmtest {

// A loopback port that nothing listens on now; 0 when none could be found.
inline u16 FreePort() {
    std::unique_ptr<tSocket> probe = ListenOnLoopback();
    return probe ? static_cast<u16>(probe->GetPort()) : 0;
}

// "pellmar" and the arguments, as argc and argv; the texts must outlive it.
class CommandLine {
public:
    explicit CommandLine(const std::vector<const char*>& args) {
        values.push_back(const_cast<char*>("pellmar"));
        for (const char* a : args) values.push_back(const_cast<char*>(a));
        values.push_back(nullptr);
    }
    int Count() const { return static_cast<int>(values.size()) - 1; }
    char** Values() { return values.data(); }

private:
    std::vector<char*> values;
};

// Success when each text comes after the one before it in out, the first at from or later.
inline ::testing::AssertionResult InOrder(const std::string& out,
                                          const std::vector<std::string>& texts, size_t from = 0) {
    size_t at = from;
    for (const std::string& text : texts) {
        at = out.find(text, at);
        if (at == std::string::npos) {
            return ::testing::AssertionFailure() << "missing in order: [" << text << "]\n" << out;
        }
        at += text.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace gmtest
