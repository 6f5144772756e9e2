// The Oracle table file end to end: the real pellmar in console mode whose Oracle client library
// is the recording OCI library (OCI 8, record fetches unprepared so that each takes its own
// scripted row), playing a script file and appending its calls to a log file, reached through
// the GM_ functions: open, top, skip, bottom, seek, append, update and a filter.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarrun.h"
#include "tests/client/support/scriptfile.h"
#include "tests/lib_common/support/inipassword.h"

namespace {

using gmtest::Count;
using gmtest::ScriptLines;

constexpr const char* kTop =
    "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(50) INDEX_ASC(T1 T1_PK ) */ R_E_C_N_O_, "
    "row_number() over (  ORDER BY R_E_C_N_O_ ) rn from T1 ) where rn between 1 and 50";
constexpr const char* kRecordFetch = "SELECT * FROM T1 TBL WHERE TBL.R_E_C_N_O_ = :1";
constexpr const char* kSeek =
    "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(T1 T11) */ R_E_C_N_O_, D_E_L_E_T_, CODE FROM T1 WHERE*";
constexpr const char* kFiltered =
    "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(260)  */ R_E_C_N_O_, row_number() over (  "
    "ORDER BY CODE,R_E_C_N_O_ ) rn from T1 WHERE (CODE = 'CODE0002') ) where rn between 1 and "
    "260";

std::string Record(const std::string& recno, const std::string& code, const std::string& price) {
    return ScriptLines(kRecordFetch,
                       {{"CODE", "1", "8"},
                        {"PRICE", "2", "22"},
                        {"R_E_C_N_O_", "2", "22"},
                        {"D_E_L_E_T_", "1", "1"},
                        {"R_E_C_D_E_L_", "2", "22"}},
                       {{code, price, recno, " ", "0"}});
}

// T1 (CODE, PRICE and the reserved columns) with the index T11 on CODE as the catalogue
// describes it, then the answers of the moves in the order the test makes them.
std::string TableScript() {
    std::string text;
    text += ScriptLines("SELECT MAX(COL#) FROM SYS.COL$*", {{"N", "2", "22"}}, {{"5"}});
    text += ScriptLines("SELECT C.NAME, DECODE*",
                        {{"NAME", "1", "30"}, {"DATA_TYPE", "1", "30"}, {"LENGTH", "2", "22"}},
                        {{"CODE", "VARCHAR2", "8"},
                         {"PRICE", "NUMBER", "22"},
                         {"R_E_C_N_O_", "NUMBER", "22"},
                         {"D_E_L_E_T_", "CHAR", "1"},
                         {"R_E_C_D_E_L_", "NUMBER", "22"}});
    text += ScriptLines("SELECT COUNT(OBJ.NAME)*", {{"N", "2", "22"}}, {{"2"}});
    text += ScriptLines("SELECT OBJI.NAME INDEX_NAME*",
                        {{"INDEX_NAME", "1", "30"}, {"COLUMN_NAME", "1", "30"}},
                        {{"T11", "CODE"}, {"T11", "R_E_C_N_O_"}, {"T1_PK", "R_E_C_N_O_"}});
    text += ScriptLines("SELECT MAX(R_E_C_N_O_) FROM T1", {{"N", "2", "22"}}, {{"2"}});
    text += ScriptLines(kTop, {{"R_E_C_N_O_", "2", "22"}}, {{"1"}, {"2"}});
    text += Record("1", "CODE0001", "1.5");
    text += Record("2", "CODE0002", "3");
    text += ScriptLines(kSeek,
                        {{"R_E_C_N_O_", "2", "22"}, {"D_E_L_E_T_", "1", "1"}, {"CODE", "1", "8"}},
                        {{"1", " ", "CODE0001"}});
    text += Record("1", "CODE0001", "1.5");
    text += Record("3", "CODE0003", "5.5");  // the filter stands on the current record again
    text += ScriptLines(kFiltered, {{"R_E_C_N_O_", "2", "22"}}, {{"2"}});
    text += Record("2", "CODE0002", "3");
    return text;
}

class OracleProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const u16 port = pellmar.Port();
        ASSERT_NE(port, 0);
        std::filesystem::create_directories(dir.File("home/bin"));
        std::filesystem::create_symlink(GM_RECOCI_PATH, dir.File("home/bin/oci.dll"));
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            "[General]\r\nPort=" + std::to_string(port) +
                "\r\nThreadMin=2\r\nThreadInc=1\r\n[Oracle]\r\nORACLE_HOME=" + dir.File("home") +
                "\r\nOCIVersion=8\r\nPreparedStmt=0\r\n[ORACLE/PROD]\r\nuser=scott\r\n"
                "password=" +
                gmtest::IniPassword("tiger") + "\r\n");
        gmtest::WriteFileText(dir.File("script.txt"), TableScript());
        setenv("GM_RECOCI_SCRIPT", dir.File("script.txt").c_str(), 1);
        setenv("GM_RECOCI_LOG", log.c_str(), 1);
        const ::testing::AssertionResult started = pellmar.Start(dir);
        unsetenv("GM_RECOCI_SCRIPT");
        unsetenv("GM_RECOCI_LOG");
        ASSERT_TRUE(started);
    }
    void TearDown() override { pellmar.Stop(); }
    std::string Log() const { return gmtest::ReadFileText(log); }
    std::string ErrorText() { return gmtest::ErrorOf(handle); }
    std::string Code() { return std::string(GM_GetInternalFld(handle, area, "CODE"), 8); }

    gmtest::TempDir dir;
    const std::string log = dir.File("calls.log");
    gmtest::PellmarRun pellmar;
    GM_HANDLE handle = 0;
    uint16_t area = 0;
};

TEST_F(OracleProgram, ClientOpensNavigatesSeeksAppendsUpdatesAndFilters) {
    int16_t status = -1;
    handle = pellmar.Connection(status, "ORACLE/PROD", "gatemill oracle");
    ASSERT_EQ(status, 0) << pellmar.Program().Output();

    const int16_t wa = GM_Open(handle, "T1", 0, 0);
    ASSERT_GT(wa, 0) << ErrorText() << pellmar.Program().Output();
    area = static_cast<uint16_t>(wa);

    ASSERT_EQ(GM_First(handle, area, 0, 0), 0) << ErrorText() << Log();
    EXPECT_EQ(GM_RecNo(handle, area), 1);
    EXPECT_EQ(Code(), "CODE0001");
    ASSERT_EQ(GM_Skip(handle, area, 0, 1, 0), 0) << ErrorText();
    EXPECT_EQ(Code(), "CODE0002");
    ASSERT_EQ(GM_Last(handle, area, 0, 0), 0) << ErrorText();
    EXPECT_EQ(GM_RecNo(handle, area), 2);
    std::string calls = Log();
    EXPECT_EQ(Count(calls, std::string("OCIStmtPrepare(") + kTop), 1u) << calls;
    EXPECT_EQ(Count(calls, std::string("OCIStmtExecute(") + kRecordFetch + " [1='"), 2u) << calls;

    ASSERT_EQ(GM_SetKey(handle, area, 2), 0) << ErrorText();
    GM_SetInternalFld(handle, area, "CODE", "CODE0001");
    ASSERT_EQ(GM_Seek(handle, area, 0, 1, 0, 0, 8, 0), 0) << ErrorText() << Log();
    EXPECT_EQ(GM_RecNo(handle, area), 1);

    GM_InitRecord(handle, area, 0);
    GM_SetInternalFld(handle, area, "CODE", "CODE0003");
    const double price = 4.125;
    GM_SetInternalFld(handle, area, "PRICE", &price);
    ASSERT_EQ(GM_Write(handle, area, 0), 0) << ErrorText() << Log();
    EXPECT_EQ(GM_RecNo(handle, area), 3);
    calls = Log();
    EXPECT_EQ(Count(calls,
                    "OCIStmtExecute(INSERT INTO T1(CODE,PRICE,R_E_C_N_O_) VALUES ( "
                    ":1,:2,:3) [1='CODE0003'] [2=4.125] [3=3],1,0)=0"),
              1u)
        << calls;

    const double newPrice = 5.5;
    GM_SetInternalFld(handle, area, "PRICE", &newPrice);
    ASSERT_EQ(GM_UpdateR(handle, area, 0, 3), 0) << ErrorText() << Log();
    calls = Log();
    EXPECT_EQ(Count(calls,
                    "OCIStmtExecute(UPDATE T1 SET PRICE = :1 WHERE R_E_C_N_O_ = :2 "
                    "[1=5.5] [2=3],1,0)=0"),
              1u)
        << calls;

    ASSERT_EQ(GM_ChgQuery(handle, area, "'CODE *EQ \"CODE0002\"'"), 0) << ErrorText();
    ASSERT_EQ(GM_First(handle, area, 0, 0), 0) << ErrorText() << Log();
    EXPECT_EQ(GM_RecNo(handle, area), 2);
    EXPECT_EQ(Count(Log(), std::string("OCIStmtPrepare(") + kFiltered), 1u) << Log();
    EXPECT_EQ(GM_Close(handle, area), 0);
}

}  // namespace
