// The Sybase driver end to end: the real pellmar in console mode whose [SYBASE] client library
// is the recording ODBC driver (a server of version 1, so the old dialect with NOLOCK), playing a
// script file and appending its calls to a log file, reached through the shared library's GM_
// functions: create, open, append, navigate and query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/recodbcserved.h"

namespace {

using gmtest::Count;
using gmtest::ScriptLines;

// The answers for T1 (CODE, PRICE and the reserved columns), which the create left in the
// server's cache of definitions: the key cursor from the top, each record by its number, and
// the query.
std::string TableScript() {
    std::string text;
    text += ScriptLines("SELECT R_E_C_N_O_ FROM dbo.T1 NOLOCK  WHERE*", {{"R_E_C_N_O_", "4", "10"}},
                        {{"1"}, {"2"}});
    const std::vector<std::vector<std::string>> record = {{"CODE", "12", "8"},
                                                          {"PRICE", "8", "15"},
                                                          {"D_E_L_E_T_", "12", "1"},
                                                          {"R_E_C_N_O_", "4", "10"}};
    for (const char* recno : {"1", "2"}) {
        text += ScriptLines("SELECT * FROM dbo.T1 TBL NOLOCK  WHERE*", record,
                            {{std::string("CODE000") + recno, recno, " ", recno}});
    }
    text += ScriptLines("SELECT CODE FROM T1 ORDER BY CODE", {{"CODE", "12", "8"}},
                        {{"CODE0001"}, {"CODE0002"}});
    return text;
}

class SybaseProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(served.Start("SYBASE", TableScript())); }
    void TearDown() override { pellmar.Stop(); }
    std::string Log() const { return served.Log(); }
    std::string ErrorText() { return gmtest::ErrorOf(handle); }

    gmtest::TempDir dir;
    gmtest::RecodbcPellmar served{dir};
    gmtest::PellmarRun& pellmar = served.pellmar;
    GM_HANDLE handle = 0;
};

TEST_F(SybaseProgram, ClientCreatesOpensAppendsNavigatesAndQueries) {
    int16_t status = -1;
    handle = pellmar.Connection(status, "SYBASE/ERP", "gatemill sybase");
    ASSERT_EQ(status, 0) << pellmar.Program().Output();
    EXPECT_EQ(Count(Log(), "\tSET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED\n"), 1u);
    EXPECT_EQ(Count(Log(),
                    "\tcreate unique index GML_PARAM1 on GML_PARAM( PARAM_SESSION, "
                    "PARAM_NAME )\n"),
              1u);

    const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
    GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0);
    GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2);
    ASSERT_EQ(GM_CreateFile(handle, "T1", fields), 0) << ErrorText();
    EXPECT_EQ(Count(Log(),
                    "\tCREATE TABLE dbo.T1(CODE VARCHAR(8) DEFAULT '        ',PRICE FLOAT "
                    "DEFAULT 0,"),
              1u)
        << Log();
    EXPECT_EQ(Count(Log(),
                    "\tALTER TABLE dbo.T1 ADD CONSTRAINT T1_PK PRIMARY KEY CLUSTERED "
                    "(R_E_C_N_O_)\n"),
              1u);

    const int16_t wa = GM_Open(handle, "T1", 0, 0);
    ASSERT_GT(wa, 0) << ErrorText() << Log();
    const uint16_t area = static_cast<uint16_t>(wa);
    EXPECT_EQ(Count(Log(), "\tSET ROWCOUNT 40\n"), 1u);

    GM_InitRecord(handle, area, 0);
    GM_SetInternalFld(handle, area, "CODE", "CODE0001");
    ASSERT_EQ(GM_Write(handle, area, 0), 0) << ErrorText();
    EXPECT_EQ(GM_RecNo(handle, area), 1);
    EXPECT_EQ(Count(Log(), "\tINSERT INTO dbo.T1(CODE,R_E_C_N_O_) VALUES ( 'CODE0001',1)\n"), 1u)
        << Log();

    ASSERT_EQ(GM_First(handle, area, 0, 0), 0) << ErrorText();
    EXPECT_EQ(GM_RecNo(handle, area), 1);
    EXPECT_EQ(std::string(GM_GetInternalFld(handle, area, "CODE"), 8), "CODE0001");
    ASSERT_EQ(GM_Skip(handle, area, 0, 1, 0), 0) << ErrorText();
    EXPECT_EQ(GM_RecNo(handle, area), 2);
    EXPECT_EQ(std::string(GM_GetInternalFld(handle, area, "CODE"), 8), "CODE0002");
    EXPECT_EQ(GM_Skip(handle, area, 0, 1, 0), -25);
    EXPECT_EQ(GM_Eof(handle, area), 1);
    const std::string navigation = Log();
    EXPECT_EQ(Count(navigation,
                    "\tSELECT R_E_C_N_O_ FROM dbo.T1 NOLOCK  WHERE R_E_C_N_O_  > 0 ORDER "
                    "BY R_E_C_N_O_\n"),
              1u);
    EXPECT_EQ(Count(navigation,
                    "\tSELECT * FROM dbo.T1 TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = "
                    "CONVERT( INT , ? )"),
              2u)
        << navigation;

    const int16_t query = GM_Query(handle, "SELECT CODE FROM T1 ORDER BY CODE");
    ASSERT_GT(query, 0) << ErrorText();
    const uint16_t queryArea = static_cast<uint16_t>(query);
    ASSERT_EQ(GM_First(handle, queryArea, 0, 0), 0) << ErrorText();
    EXPECT_EQ(std::string(GM_GetInternalFld(handle, queryArea, "CODE"), 8), "CODE0001");
    EXPECT_EQ(GM_Skip(handle, queryArea, 0, 1, 0), 0);
    EXPECT_EQ(std::string(GM_GetInternalFld(handle, queryArea, "CODE"), 8), "CODE0002");
    EXPECT_EQ(GM_Skip(handle, queryArea, 0, 1, 0), -25);
    EXPECT_EQ(GM_Close(handle, queryArea), 0);
    // The query ran on a second session: a child connection of its own.
    EXPECT_EQ(Count(Log(), "SQLConnect("), 2u) << Log();
    EXPECT_EQ(GM_Close(handle, area), 0);
}

}  // namespace
