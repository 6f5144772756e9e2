// Process facts: /proc texts parsed into 64-bit byte counts, the release numbers, and the real
// figures of this machine.
#include "platform/procinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

constexpr std::uint64_t kKb = 1024;

TEST(ProcInfo, MeminfoGivesBytesBeyond32Bits) {
    // 64 GiB of memory and 16 GiB of swap: byte counts far above 4 GiB.
    const char* text =
        "MemTotal:       67108864 kB\n"
        "MemFree:         1000000 kB\n"
        "MemAvailable:   33554432 kB\n"
        "Buffers:          234624 kB\n"
        "SwapTotal:      16777216 kB\n"
        "SwapFree:        8388608 kB\n";
    plat::SystemMemory m;
    ASSERT_TRUE(plat::ParseMeminfo(text, 0x7ffffffff000ULL, 3000 * kKb, m));
    EXPECT_EQ(m.physicalTotal, 68719476736ULL);
    EXPECT_EQ(m.physicalFree, 34359738368ULL);
    EXPECT_EQ(m.pagingTotal, 68719476736ULL + 17179869184ULL);
    EXPECT_EQ(m.pagingFree, 34359738368ULL + 8589934592ULL);
    EXPECT_EQ(m.virtualTotal, 0x7ffffffff000ULL);
    EXPECT_EQ(m.virtualFree, 0x7ffffffff000ULL - 3000 * kKb);
}

TEST(ProcInfo, MeminfoWithoutAvailableEstimateAddsCacheToFree) {
    const char* text =
        "MemTotal:   1000 kB\n"
        "MemFree:     100 kB\n"
        "Buffers:      20 kB\n"
        "Cached:       30 kB\n";
    plat::SystemMemory m;
    ASSERT_TRUE(plat::ParseMeminfo(text, 4096 * kKb, 5000 * kKb, m));
    EXPECT_EQ(m.physicalFree, 150 * kKb);
    EXPECT_EQ(m.pagingTotal, 1000 * kKb);  // no swap lines: swap counts 0
    EXPECT_EQ(m.pagingFree, 150 * kKb);
    EXPECT_EQ(m.virtualFree, 0u);  // more mapped than the limit never wraps
}

TEST(ProcInfo, MalformedTextsAreRefused) {
    plat::SystemMemory m;
    plat::ProcessMemory p;
    const char* cases[] = {"", "MemFree: 10 kB\n", "MemTotal: kB\n", "XMemTotal: 10 kB\n"};
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(plat::ParseMeminfo(text, 1, 0, m));
        EXPECT_FALSE(plat::ParseProcessStatus(text, p));
    }
}

TEST(ProcInfo, ProcessStatusCountsAnonymousAndSwappedAsPrivate) {
    const char* text =
        "Name:\tpellmar\n"
        "VmSize:\t 8000000 kB\n"
        "VmRSS:\t 5242880 kB\n"
        "RssAnon:\t 4194304 kB\n"
        "RssFile:\t 1048576 kB\n"
        "VmSwap:\t 2097152 kB\n";
    plat::ProcessMemory p;
    ASSERT_TRUE(plat::ParseProcessStatus(text, p));
    EXPECT_EQ(p.workingSet, 5368709120ULL);
    EXPECT_EQ(p.privateBytes, 6442450944ULL);
}

TEST(ProcInfo, ReleaseNumbers) {
    const struct {
        const char* release;
        int major, minor, build;
    } cases[] = {{"6.1.0-18-amd64", 6, 1, 0},
                 {"5.15.133.1-microsoft", 5, 15, 133},
                 {"4.19", 4, 19, 0},
                 {"x1.2", 0, 0, 0},
                 {"", 0, 0, 0},
                 {"3.10.0.957", 3, 10, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        int major = -1, minor = -1, build = -1;
        plat::ParseRelease(c.release, major, minor, build);
        EXPECT_EQ(major, c.major);
        EXPECT_EQ(minor, c.minor);
        EXPECT_EQ(build, c.build);
    }
}

TEST(ProcInfo, RealFiguresOfThisMachine) {
    plat::SystemMemory m;
    ASSERT_TRUE(plat::ReadSystemMemory(m));
    EXPECT_GT(m.physicalTotal, 0u);
    EXPECT_LE(m.physicalFree, m.physicalTotal);
    EXPECT_LE(m.pagingFree, m.pagingTotal);
    EXPECT_LT(m.virtualFree, m.virtualTotal);  // this process maps something

    plat::ProcessMemory p;
    ASSERT_TRUE(plat::ReadProcessMemory(p));
    EXPECT_GT(p.workingSet, 0u);
    EXPECT_GT(p.privateBytes, 0u);

    plat::OSFacts os;
    ASSERT_TRUE(plat::ReadOSFacts(os));
    EXPECT_EQ(os.name, "Linux");
    EXPECT_GE(os.major, 3);
    EXPECT_EQ(os.release.compare(0, std::to_string(os.major).size(), std::to_string(os.major)), 0);
}

TEST(ProcInfo, ProgramAndNames) {
    const std::string path = plat::ProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(access(path.c_str(), X_OK), 0);
    const std::string dir = plat::ProgramDirectory();
    EXPECT_EQ(path.compare(0, dir.size(), dir), 0);
    EXPECT_EQ(dir.back(), '/');

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(plat::ComputerName(), host);
    EXPECT_FALSE(plat::UserName().empty());
    EXPECT_EQ(plat::ProcessId(), static_cast<std::uint32_t>(getpid()));
}

}  // namespace
