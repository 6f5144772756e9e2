// Ini files under concurrent writers: the process-wide write lock keeps every change.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/inifile.h"
#include "tests/support/tempdir.h"

namespace {

TEST(IniFileThreads, ConcurrentWritesToOneFileAllSurvive) {
    gmtest::TempDir dir;
    const std::string ini = dir.File("gatemill.ini");
    constexpr int kThreads = 4;
    constexpr int kKeys = 25;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&ini, t] {
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = "K" + std::to_string(t) + "_" + std::to_string(k);
                EXPECT_TRUE(plat::IniWriteString(ini.c_str(), "General", key.c_str(),
                                                 std::to_string(t * 100 + k).c_str()));
            }
        });
    }
    for (auto& w : writers) w.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            const std::string key = "K" + std::to_string(t) + "_" + std::to_string(k);
            EXPECT_EQ(plat::IniReadInt(ini.c_str(), "General", key.c_str(), -1), t * 100 + k);
        }
    }
}

}  // namespace
