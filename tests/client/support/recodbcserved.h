// A copy of the real pellmar in console mode whose client library for one database type is the
// recording ODBC driver, playing a script file (lines of the driver's script format) and
// appending its calls to a log file, both in the test's directory.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/client/support/pellmarrun.h"
#include "tests/client/support/scriptfile.h"
#include "tests/server/process/support/programprocess.h"

namespace gmtest {

class RecodbcPellmar {
public:
    explicit RecodbcPellmar(TempDir& dir) : dir(dir), log(dir.File("calls.log")) {}

    // Starts pellmar with the driver as the [dbType] client library; moreGeneral: further
    // [General] lines, moreIni: further sections ("Key=value\r\n" lines).
    ::testing::AssertionResult Start(const std::string& dbType, const std::string& script,
                                     const std::string& moreGeneral = "",
                                     const std::string& moreIni = "") {
        const u16 port = pellmar.Port();
        if (port == 0) return ::testing::AssertionFailure() << "no free port";
        WriteFileText(dir.File("gatemill.ini"),
                      RecordingDriverIni(port, "ThreadMin=2\r\nThreadInc=1\r\n" + moreGeneral,
                                         dbType) +
                          moreIni);
        WriteFileText(dir.File("script.txt"), script);
        setenv("GM_RECODBC_SCRIPT", dir.File("script.txt").c_str(), 1);
        setenv("GM_RECODBC_LOG", log.c_str(), 1);
        ::testing::AssertionResult started = pellmar.Start(dir);
        unsetenv("GM_RECODBC_SCRIPT");
        unsetenv("GM_RECODBC_LOG");
        return started;
    }
    std::string Log() const { return ReadFileText(log); }
    // The log's lines from offset on.
    std::string LogFrom(size_t offset) const {
        const std::string all = Log();
        return offset < all.size() ? all.substr(offset) : std::string();
    }

    TempDir& dir;
    const std::string log;
    PellmarRun pellmar;
};

}  // namespace gmtest
