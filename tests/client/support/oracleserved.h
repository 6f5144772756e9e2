// The real pellmar in console mode whose Oracle client library is the recording OCI library
// (bin\oci.dll of the home named by [Oracle] ORACLE_HOME), and table connections to it through
// the shared library's GM_ functions under the environment "ORACLE/PROD" of the user SCOTT.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/recordingpellmar.h"
#include "tests/client/support/scriptfile.h"
#include "tests/server/support/recoci_control.h"

namespace gmtest {

// The recording library in a home of its own, and pellmar over it.
class OraclePellmar : public RecordingPellmar {
public:
    explicit OraclePellmar(TempDir& dir) : RecordingPellmar(dir, tRecording::Oci) {
        home.Client("oci.dll");
    }
    // Starts pellmar over the script; moreOracle: further [Oracle] lines ("Key=value\r\n").
    ::testing::AssertionResult Start(const std::string& script,
                                     const std::string& moreOracle = "") {
        return RecordingPellmar::Start(
            [&](u16 port) {
                return "[General]\r\nPort=" + std::to_string(port) +
                       "\r\nThreadMin=2\r\nThreadInc=1\r\n[Oracle]\r\nORACLE_HOME=" + home.Path() +
                       "\r\nOCIVersion=8\r\n" + moreOracle + "[ORACLE/PROD]\r\nuser=scott\r\n";
            },
            script);
    }
    GM_HANDLE Connection(int16_t& status) {
        return pellmar.Connection(status, "ORACLE/PROD", "gatemill oracle");
    }

private:
    OracleHome home;
};

class OracleServed : public ::testing::Test {
protected:
    void Start(const std::string& script, const std::string& moreOracle = "") {
        ASSERT_TRUE(served.Start(script, moreOracle));
        program = &served.pellmar.Program();
    }
    void TearDown() override { served.pellmar.Stop(); }
    GM_HANDLE Connected() {
        int16_t status = -1;
        const GM_HANDLE handle = served.Connection(status);
        EXPECT_EQ(status, 0) << program->Output();
        return handle;
    }
    static std::string Error(GM_HANDLE db) { return gmtest::ErrorOf(db); }
    std::string Log() const { return served.Log(); }
    std::string LogFrom(size_t offset) const { return served.LogFrom(offset); }

    gmtest::TempDir dir;
    OraclePellmar served{dir};
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
};

}  // namespace gmtest
