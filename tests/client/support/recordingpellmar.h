// A copy of the real pellmar in console mode whose client library is one of the recording
// libraries, the ODBC driver or the OCI library: it plays a script file and appends its calls to
// a log file, both in the test's directory.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/client/support/pellmarrun.h"

namespace gmtest {

enum class tRecording { Odbc, Oci };

class RecordingPellmar {
public:
    RecordingPellmar(TempDir& dir, tRecording library)
        : dir(dir),
          log(dir.File("calls.log")),
          variables(library == tRecording::Odbc ? "GM_RECODBC" : "GM_RECOCI") {}

    // Starts pellmar over the gatemill.ini text that ini(port) makes and the script (lines of
    // the library's script format).
    template <class Ini>
    ::testing::AssertionResult Start(const Ini& ini, const std::string& script) {
        const u16 port = pellmar.Port();
        if (port == 0) return ::testing::AssertionFailure() << "no free port";
        WriteFileText(dir.File("gatemill.ini"), ini(port));
        WriteFileText(dir.File("script.txt"), script);
        setenv((variables + "_SCRIPT").c_str(), dir.File("script.txt").c_str(), 1);
        setenv((variables + "_LOG").c_str(), log.c_str(), 1);
        ::testing::AssertionResult started = pellmar.Start(dir);
        unsetenv((variables + "_SCRIPT").c_str());
        unsetenv((variables + "_LOG").c_str());
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

private:
    const std::string variables;  // the library's environment variables' stem
};

}  // namespace gmtest
