// The configuration cache under concurrent readers: a value written through the cache is what
// every lookup that starts after the write returns, never an older one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "lib_common/configcache.h"
#include "tests/support/tempdir.h"

namespace {

int ReadAsText(tConfigCache& cache) {
    tString text;
    cache.GetString("GENERAL", "port", "-1", text);
    return std::atoi(text);
}

TEST(ConfigCacheThreads, WriteIsSeenAtOnceWhileOthersReadTheKey) {
    gmtest::TempDir dir;
    const std::string ini = dir.File("gatemill.ini");
    tConfigCache cache(ini.c_str());
    ASSERT_TRUE(cache.WriteInt("General", "Port", 0));
    static constexpr int kWrites = 150;
    std::atomic<int> written{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&cache, &written, &done, r] {
            while (!done.load()) {
                const int floor = written.load();  // completed before this lookup starts
                const int seen = r % 2 ? cache.GetInt("general", "PORT", -1) : ReadAsText(cache);
                ASSERT_GE(seen, floor);
                ASSERT_LE(seen, kWrites);
            }
        });
    }
    for (int v = 1; v <= kWrites; ++v) {
        ASSERT_TRUE(cache.WriteInt("General", "Port", v));
        written.store(v);
        EXPECT_EQ(cache.GetInt("General", "Port", -1), v);
    }
    done.store(true);
    for (auto& reader : readers) reader.join();
}

}  // namespace
