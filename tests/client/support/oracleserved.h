// The real pellmar in console mode whose Oracle client library is the recording OCI library
// (bin\oci.dll of the home named by [Oracle] ORACLE_HOME), playing a script file and appending
// its calls to a log file, and table connections to it through the shared library's GM_
// functions under the environment "ORACLE/PROD" of the user SCOTT.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarrun.h"
#include "tests/client/support/scriptfile.h"
#include "tests/server/support/recoci_control.h"

namespace gmtest {

class OracleServed : public ::testing::Test {
protected:
    // Starts pellmar over the library's script (lines of the recording library's script file);
    // moreOracle: further [Oracle] lines ("Key=value\r\n").
    void Start(const std::string& script, const std::string& moreOracle = "") {
        port = pellmar.Port();
        ASSERT_NE(port, 0);
        home.Client("oci.dll");
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            "[General]\r\nPort=" + std::to_string(port) +
                "\r\nThreadMin=2\r\nThreadInc=1\r\n[Oracle]\r\nORACLE_HOME=" + home.Path() +
                "\r\nOCIVersion=8\r\n" + moreOracle + "[ORACLE/PROD]\r\nuser=scott\r\n");
        gmtest::WriteFileText(dir.File("script.txt"), script);
        setenv("GM_RECOCI_SCRIPT", dir.File("script.txt").c_str(), 1);
        setenv("GM_RECOCI_LOG", log.c_str(), 1);
        const ::testing::AssertionResult started = pellmar.Start(dir);
        unsetenv("GM_RECOCI_SCRIPT");
        unsetenv("GM_RECOCI_LOG");
        ASSERT_TRUE(started);
        program = &pellmar.Program();
    }
    void TearDown() override { pellmar.Stop(); }
    GM_HANDLE Connected() {
        int16_t status = -1;
        const GM_HANDLE handle = pellmar.Connection(status, "ORACLE/PROD", "gatemill oracle");
        EXPECT_EQ(status, 0) << program->Output();
        return handle;
    }
    static std::string Error(GM_HANDLE db) { return gmtest::ErrorOf(db); }
    std::string Log() const { return gmtest::ReadFileText(log); }
    // The log's lines from offset on.
    std::string LogFrom(size_t offset) const {
        const std::string all = Log();
        return offset < all.size() ? all.substr(offset) : std::string();
    }

    gmtest::TempDir dir;
    gmtest::OracleHome home;
    const std::string log = dir.File("calls.log");
    gmtest::PellmarRun pellmar;
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
};

}  // namespace gmtest
