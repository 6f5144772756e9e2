// The real pellmar in console mode whose [MSSQL] client library is the recording ODBC driver,
// playing a script file and appending its calls to a log file, and table connections to it
// through the shared library's GM_ functions under the environment "MSSQL7/ERP".
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarrun.h"

namespace gmtest {

// One session's connect: a banner whose version reads 8, then the session id.
inline std::string MSSQLSessionScript(const char* spid) {
    return std::string(
               "RESULT\tselect substring(@@version,charindex('-',@@version)+2,2)\n"
               "COLUMN\tv\t12\t2\nROW\t8.\n"
               "RESULT\tSELECT @@SPID AS PARAM_SESSION\nCOLUMN\tPARAM_SESSION\t5\t5\nROW\t") +
           spid + "\n";
}

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class MSSQLServed : public ::testing::Test {
protected:
    static constexpr const char* kAnsiKey = "SOFTWARE\\ODBC\\ODBC.INI\\ERP";

    // Starts pellmar over the driver's script (lines of the recording driver's script file);
    // moreGeneral: further [General] lines ("Key=value\r\n").
    void Start(const std::string& script, const std::string& moreGeneral = "") {
        port = pellmar.Port();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\r\nPort=" + std::to_string(port) +
                                  "\r\nThreadMin=2\r\nThreadInc=1\r\n" + moreGeneral +
                                  "[MSSQL]\r\nClientLibrary=" + GM_RECODBC_PATH + "\r\n[" +
                                  kAnsiKey + "]\r\nAnsiNPW=Yes\r\nDriver=sqlsrv.so\r\n");
        gmtest::WriteFileText(dir.File("script.txt"), script);
        setenv("GM_RECODBC_SCRIPT", dir.File("script.txt").c_str(), 1);
        setenv("GM_RECODBC_LOG", log.c_str(), 1);
        const ::testing::AssertionResult started = pellmar.Start(dir);
        unsetenv("GM_RECODBC_SCRIPT");
        unsetenv("GM_RECODBC_LOG");
        ASSERT_TRUE(started);
        program = &pellmar.Program();
    }
    void TearDown() override { pellmar.Stop(); }
    GM_HANDLE Connect(int16_t& status) {
        return pellmar.Connection(status, "MSSQL7/ERP", "gatemill mssql");
    }
    GM_HANDLE Connected() {
        int16_t status = -1;
        const GM_HANDLE handle = Connect(status);
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
    const std::string log = dir.File("calls.log");
    gmtest::PellmarRun pellmar;
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
};

}  // namespace gmtest
