// The SQL Server driver end to end: the real pellmar in console mode whose [MSSQL] client
// library is the recording ODBC driver, playing a script file and appending its calls to a log
// file, reached through the shared library's GM_ functions.
#include <gtest/gtest.h>

#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/mssqlserved.h"

namespace {

using gmtest::Count;
using gmtest::MSSQLSessionScript;

// The catalogue's answer that T1's R_E_C_N_O_ accepts nulls.
const std::string kRecnoProbe =
    "RESULT\tselect count(*) from syscolumns where name = 'R_E_C_N_O_' and id = object_id( 'T1' ) "
    "and isnullable = 1";

// Two sessions, and the catalogue that answers for T1.
class MSSQLProgram : public gmtest::MSSQLServed {
protected:
    void SetUp() override {
        Start(MSSQLSessionScript("51") + MSSQLSessionScript("52") +
              "RESULT\tSELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = "
              "object_id('T1')\nCOLUMN\tname\t12\t128\nROW\tT1\n" +
              kRecnoProbe + "\nCOLUMN\tn\t4\t10\nROW\t1\n");
    }
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
