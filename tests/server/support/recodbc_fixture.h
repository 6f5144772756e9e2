// A fixture for the ODBC layer's tests over the recording driver, run in both ODBC modes: the
// process services with the driver as every database type's client library, the driver's
// controls, and connections made through a loader of the test's own.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/drivers/odbc.h"
#include "tests/server/support/recodbc_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace gmtest {

// The parameter is the ODBC mode: true for the ODBC 3 calls.
class RecordedODBC : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        process.SetIni("General", "ODBC30", GetParam() ? "1" : "0");
        for (const char* type : {"MSSQL", "POSTGRES", "MYSQL", "DB2"}) {
            process.SetIni(type, "ClientLibrary", GM_RECODBC_PATH);
        }
        {
            ConsoleCapture loading;  // keeps the loader's line out of the test's output
            ASSERT_TRUE(loader.Load("MSSQL", tString("RECDSN")));
        }
        ASSERT_EQ(loader.UseODBC3(), GetParam());
        rec.Reset();
        console = std::make_unique<ConsoleCapture>();
    }

    // A connection of that database type to the data source RECDSN, connected when asked.
    std::unique_ptr<tODBCConnection> MakeConnection(const char* dbType = "MSSQL",
                                                    bool connect = true) {
        auto conn = std::make_unique<tODBCConnection>(dbType, tString("RECDSN"), tString("gm"),
                                                      tString("pw"), loader);
        if (connect) {
            EXPECT_TRUE(conn->Connect());
        }
        return conn;
    }

    std::string LastError(tDBConnection& conn) {
        tString text;
        conn.GetLastErrorInfo(text);
        return text.GetText();
    }

    TestDBProcess process;
    tODBCLibrary loader;
    RecordingDriver rec;
    std::unique_ptr<ConsoleCapture> console;
};

inline std::string ODBCModeName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "ODBC3" : "ODBC1";
}

}  // namespace gmtest
