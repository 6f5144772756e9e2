// The SQL Server driver end to end: the real pellmar in console mode whose [MSSQL] client
// library is the recording ODBC driver, playing a script file and appending its calls to a log
// file, reached through the shared library's GM_ functions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"

namespace {

constexpr const char* kAnsiKey = "SOFTWARE\\ODBC\\ODBC.INI\\ERP";

// One session's connect: a banner whose version reads 8, then the session id.
std::string SessionScript(const char* spid) {
    return std::string(
               "RESULT\tselect substring(@@version,charindex('-',@@version)+2,2)\n"
               "COLUMN\tv\t12\t2\nROW\t8.\n"
               "RESULT\tSELECT @@SPID AS PARAM_SESSION\nCOLUMN\tPARAM_SESSION\t5\t5\nROW\t") +
           spid + "\n";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The catalogue's answer that T1's R_E_C_N_O_ accepts nulls.
const std::string kRecnoProbe =
    "RESULT\tselect count(*) from syscolumns where name = 'R_E_C_N_O_' and id = object_id( 'T1' ) "
    "and isnullable = 1";

class MSSQLProgram : public ::testing::Test {
protected:
    void SetUp() override {
        port = gmtest::FreePort();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            "[General]\r\nPort=" + std::to_string(port) +
                "\r\nThreadMin=2\r\nThreadInc=1\r\n[MSSQL]\r\nClientLibrary=" + GM_RECODBC_PATH +
                "\r\n[" + kAnsiKey + "]\r\nAnsiNPW=Yes\r\nDriver=sqlsrv.so\r\n");
        gmtest::WriteFileText(
            dir.File("script.txt"),
            "# two sessions, and the catalogue that answers for T1\n" + SessionScript("51") +
                SessionScript("52") +
                "RESULT\tSELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = "
                "object_id('T1')\nCOLUMN\tname\t12\t128\nROW\tT1\n" + kRecnoProbe +
                "\nCOLUMN\tn\t4\t10\nROW\t1\n");
        setenv("GM_RECODBC_SCRIPT", dir.File("script.txt").c_str(), 1);
        setenv("GM_RECODBC_LOG", log.c_str(), 1);
        program = std::make_unique<gmtest::ProgramRun>(gmtest::CopyProgram(dir),
                                                       std::vector<std::string>{"-console"});
        unsetenv("GM_RECODBC_SCRIPT");
        unsetenv("GM_RECODBC_LOG");
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(program->WaitFor("Listening port " + std::to_string(port) + " \n"))
            << program->Output();
    }
    void TearDown() override {
        for (GM_HANDLE handle : handles) {
            GM_DisConnect(handle);
            GM_Release(handle);
        }
        size_t from = 0;
        if (program && program->Started()) {
            EXPECT_EQ(program->StopAnsweringYes(from), 0) << program->Output();
        }
    }
    GM_HANDLE Connect(int16_t& status) {
        const GM_HANDLE handle = GM_GetGmlConn(0, port);
        EXPECT_NE(handle, 0u);
        handles.push_back(handle);
        status = GM_Connect(handle, "127.0.0.1", "MSSQL7/ERP", "gatemill mssql");
        return handle;
    }
    std::string Log() const { return gmtest::ReadFileText(log); }

    gmtest::TempDir dir;
    const std::string log = dir.File("calls.log");
    u16 port = 0;
    std::unique_ptr<gmtest::ProgramRun> program;
    std::vector<GM_HANDLE> handles;
};

TEST_F(MSSQLProgram, FirstConnectCreatesTheCatalogueAndTheScriptAnswersTheProbes) {
    int16_t status = -1;
    const GM_HANDLE first = Connect(status);
    ASSERT_EQ(status, 0) << program->Output();
    char type[64] = "";
    EXPECT_EQ(GM_GetServerType(first, type), 0);
    EXPECT_STREQ(type, "WinNT");
    const std::string afterFirst = Log();
    EXPECT_EQ(Count(afterFirst, "\tSELECT @@SPID AS PARAM_SESSION\n"), 1u);
    EXPECT_EQ(Count(afterFirst, "\tSET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED\n"), 1u);
    for (const char* create :
         {"\tCREATE TABLE dbo.GML_FIELD(FIELD_TABLE VARCHAR(64) NOT NULL CONSTRAINT "
          "GML_FIELD_FIELD_TABLE_DF DEFAULT '",
          "\tcreate table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION Smallint not "
          "null, PARAM_VALUE VarChar(50) not null)\n",
          "\tCREATE TABLE dbo.GML_IDXSTATS(", "\tCREATE TABLE dbo.GML_VIRTUALIDX(",
          "\tCREATE TABLE dbo.GML_SP("}) {
        EXPECT_EQ(Count(afterFirst, create), 1u) << create << "\n" << afterFirst;
    }
    // The data source's AnsiNPW value went from the program's registry; its other value stayed.
    const std::string ini = gmtest::ReadFileText(dir.File("gatemill.ini"));
    EXPECT_EQ(ini.find("AnsiNPW"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Driver=sqlsrv.so"), std::string::npos);

    const GM_HANDLE second = Connect(status);
    ASSERT_EQ(status, 0) << program->Output();
    const std::string afterSecond = Log();
    EXPECT_EQ(Count(afterSecond, "\tSELECT @@SPID AS PARAM_SESSION\n"), 2u);
    EXPECT_EQ(Count(afterSecond, "CREATE TABLE"), Count(afterFirst, "CREATE TABLE"));

    EXPECT_EQ(GM_CanOpen(second, "T1", ""), 0);
    EXPECT_EQ(GM_CanOpen(second, "T2", ""), -11);
    EXPECT_EQ(Count(Log(),
                    "\tSELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = "
                    "object_id('T2')\n"),
              1u);
}

// The service channel's catalogue probes send their SQL, and a name that is no identifier
// sends none.
TEST_F(MSSQLProgram, ServiceChannelProbesTheRecordNumberColumn) {
    int16_t status = -1;
    const GM_HANDLE db = Connect(status);
    ASSERT_EQ(status, 0) << program->Output();
    const auto call = [&](uint8_t subcode, const std::string& parameter) {
        char buffer[256] = "";
        parameter.copy(buffer, parameter.size());
        GM_InternalF(db, subcode, buffer, static_cast<int16_t>(parameter.size()),
                     sizeof buffer - 1);
        return std::string(buffer);
    };
    EXPECT_EQ(call(61, "T1"), "1");
    EXPECT_EQ(Count(Log(), kRecnoProbe.substr(7) + "\n"), 1u) << Log();
    EXPECT_EQ(call(71, "T1"), "0");
    EXPECT_EQ(Count(Log(), "object_id( 'T1' ) and status & 128 in (128)\n"), 1u) << Log();
    const std::string before = Log();
    EXPECT_EQ(call(62, "x'; DROP TABLE t --"), "0");
    EXPECT_EQ(call(61, "x'; DROP TABLE t --"), "0");
    EXPECT_EQ(call(72, "x'; DROP TABLE t --"), "0");
    EXPECT_EQ(Log(), before);
}

}  // namespace
