// The log writer: its line format, console echo, rotation past the size limit, and failures.
#include "lib_common/logwriter.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "lib_base/misc.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::ReadFileText;
using gmtest::WriteFileText;

i64 FixedClock() { return 1709646307; }  // 2024-03-05 13:45:07 UTC

class LogWriter : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        SetClockSource(&FixedClock);
        SetLogPath(log.c_str());
    }
    void TearDown() override {
        SetClockSource(nullptr);
        SetLogPath("");
    }

    gmtest::TempDir dir;
    const std::string log = dir.File("gatemill.log");
    const std::string bak = dir.File("gatemill.bak");
    const std::string line = "05/03/2024 13:45:07 : ";
};

TEST_F(LogWriter, AppendsDatedLinesAndEchoesThem) {
    gmtest::ConsoleCapture console;
    EXPECT_STREQ(GetLogPath(), log.c_str());
    EXPECT_TRUE(WriteLog("[INFO] first", 0));
    EXPECT_TRUE(WriteLog("second\n", 0));
    EXPECT_EQ(ReadFileText(log), line + "[INFO] first\n" + line + "second\n\n");
    EXPECT_EQ(console.Get(),
              "[BEGINLOG]\n[INFO] first\n[ENDLOG]\n[BEGINLOG]\nsecond\n\n[ENDLOG]\n");
}

TEST_F(LogWriter, RecreateEmptiesTheLog) {
    gmtest::ConsoleCapture console;
    WriteFileText(log, "old line\n");
    EXPECT_TRUE(WriteLog("Log file cleared.\n", 1));
    EXPECT_EQ(ReadFileText(log), line + "Log file cleared.\n\n");
}

TEST_F(LogWriter, RotatesOnceTheLogHoldsItsLimit) {
    gmtest::ConsoleCapture console;
    const std::string full(kLogMaxSize - 1, 'x');
    WriteFileText(log, full);
    WriteFileText(bak, "older backup");
    EXPECT_TRUE(WriteLog("fits", 0));  // 999999 bytes: one more line without rotation
    EXPECT_EQ(ReadFileText(log), full + line + "fits\n");
    EXPECT_EQ(ReadFileText(bak), "older backup");

    EXPECT_TRUE(WriteLog("rotated", 0));
    EXPECT_EQ(ReadFileText(bak), full + line + "fits\n");
    EXPECT_EQ(ReadFileText(log), line + "rotated\n");
}

TEST_F(LogWriter, LogThatCannotMoveAsideIsKept) {
    gmtest::ConsoleCapture console;
    const std::string full(kLogMaxSize, 'x');
    WriteFileText(log, full);
    ASSERT_EQ(::mkdir(bak.c_str(), 0755), 0);  // neither deleted nor replaced by the rename
    WriteFileText(dir.File("gatemill.bak/keep"), "");
    EXPECT_TRUE(WriteLog("kept", 0));
    EXPECT_EQ(ReadFileText(log), full + line + "kept\n");
}

TEST_F(LogWriter, UnwritableLogWarnsAndFails) {
    gmtest::ConsoleCapture console;
    const std::string path = dir.File("none/gatemill.log");
    SetLogPath(path.c_str());
    EXPECT_FALSE(WriteLog("lost", 0));
    EXPECT_EQ(console.Get(),
              "\n**** Warning - Could not write " + path + ". FileOpen or FileCreate error.\n");

    SetLogPath("/dev/full");  // opens, but takes no byte
    EXPECT_FALSE(WriteLog("lost", 0));
}

TEST(LogPath, ExtensionIsReplaced) {
    const struct {
        const char* path;
        const char* out;
    } cases[] = {
        {"/srv/gatemill/gatemill.log", "/srv/gatemill/gatemill.bak"},
        {"C:\\pellmar\\gatemillconsole.log", "C:\\pellmar\\gatemillconsole.bak"},
        {"/srv/dir.d/log", "/srv/dir.d/log.bak"},
        {"a.b.c", "a.b.bak"},
        {"", ".bak"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_STREQ(ReplaceExtension(c.path, ".bak"), c.out);
    }
}

}  // namespace
