// A console under test: its standard output is a memory stream, its clock is fixed (fixedclock.h),
// and its configuration is an ini file in a private directory.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib_common/configcache.h"
#include "server/runtime/consolelog.h"
#include "tests/support/fixedclock.h"
#include "tests/support/tempdir.h"

namespace gmtest {

const std::string kConsolePrefix = std::string(kFixedStamp) + " : ";

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        out = open_memstream(&outText, &outSize);
        console = std::make_unique<tConsoleLog>(out);
    }
    void TearDown() override {
        console.reset();
        std::fclose(out);
        std::free(outText);
    }

    // Writes the ini's [GENERAL] section (one "key=value" a line) and opens the console on it.
    void OpenWith(const std::string& general) {
        WriteFileText(dir.File("gatemill.ini"), "[GENERAL]\n" + general);
        config = std::make_unique<tConfigCache>(dir.File("gatemill.ini").c_str());
        console->Open(config.get(), dir.Path().c_str());
    }
    std::string Standard() {
        std::fflush(out);
        return std::string(outText, outSize);
    }

    FixedClock clock;
    TempDir dir;
    std::unique_ptr<tConfigCache> config;
    std::unique_ptr<tConsoleLog> console;

private:
    std::FILE* out = nullptr;
    char* outText = nullptr;
    size_t outSize = 0;
};

}  // namespace gmtest
