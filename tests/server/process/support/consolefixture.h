// A console under test: its standard output is a memory stream, its clock is fixed at
// 14/11/2023 22:13:20 UTC, and its configuration is an ini file in a private directory.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib_base/misc.h"
#include "lib_common/configcache.h"
#include "server/process/consolelog.h"
#include "tests/support/tempdir.h"

namespace gmtest {

constexpr const char* kConsolePrefix = "14/11/2023 22:13:20 : ";

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz = tz != nullptr;
        if (tz) savedTz = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
        SetClockSource([]() -> i64 { return 1700000000; });
        out = open_memstream(&outText, &outSize);
        console = std::make_unique<tConsoleLog>(out);
    }
    void TearDown() override {
        console.reset();
        std::fclose(out);
        std::free(outText);
        SetClockSource(nullptr);
        if (hadTz) {
            setenv("TZ", savedTz.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
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

    TempDir dir;
    std::unique_ptr<tConfigCache> config;
    std::unique_ptr<tConsoleLog> console;

private:
    std::FILE* out = nullptr;
    char* outText = nullptr;
    size_t outSize = 0;
    bool hadTz = false;
    std::string savedTz;
};

}  // namespace gmtest
