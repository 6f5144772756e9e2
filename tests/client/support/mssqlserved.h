// The real pellmar in console mode whose [MSSQL] client library is the recording ODBC driver,
// playing a script file and appending its calls to a log file, and table connections to it
// through the shared library's GM_ functions under the environment "MSSQL7/ERP".
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarrun.h"
#include "tests/client/support/recodbcserved.h"

namespace gmtest {

// One session's connect: a banner whose version reads 8, then the session id.
inline std::string MSSQLSessionScript(const char* spid) {
    return std::string(
               "RESULT\tselect substring(@@version,charindex('-',@@version)+2,2)\n"
               "COLUMN\tv\t12\t2\nROW\t8.\n"
               "RESULT\tSELECT @@SPID AS PARAM_SESSION\nCOLUMN\tPARAM_SESSION\t5\t5\nROW\t") +
           spid + "\n";
}

// The data source ERP's registry key, as gatemill.ini stands in for it, with the AnsiNPW value
// that the driver removes at its connect.
inline std::string MSSQLDataSourceIni() {
    return "[SOFTWARE\\ODBC\\ODBC.INI\\ERP]\r\nAnsiNPW=Yes\r\nDriver=sqlsrv.so\r\n";
}

class MSSQLServed : public ::testing::Test {
protected:
    // Starts pellmar over the driver's script (lines of the recording driver's script file);
    // moreGeneral: further [General] lines ("Key=value\r\n").
    void Start(const std::string& script, const std::string& moreGeneral = "") {
        port = served.pellmar.Port();
        ASSERT_TRUE(served.Start("MSSQL", script, moreGeneral, MSSQLDataSourceIni()));
        program = &served.pellmar.Program();
    }
    void TearDown() override { served.pellmar.Stop(); }
    GM_HANDLE Connect(int16_t& status) {
        return served.pellmar.Connection(status, "MSSQL7/ERP", "gatemill mssql");
    }
    GM_HANDLE Connected() {
        int16_t status = -1;
        const GM_HANDLE handle = Connect(status);
        EXPECT_EQ(status, 0) << program->Output();
        return handle;
    }
    static std::string Error(GM_HANDLE db) { return gmtest::ErrorOf(db); }
    std::string Log() const { return served.Log(); }
    std::string LogFrom(size_t offset) const { return served.LogFrom(offset); }

    gmtest::TempDir dir;
    gmtest::RecodbcPellmar served{dir};
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
};

}  // namespace gmtest
