// The Oracle connection end to end: the real pellmar in console mode whose [Oracle] client library
// is the recording OCI library, playing a script file and appending its calls to a log file,
// reached through the shared library's GM_ functions under the environment "ORACLE/ORCL".
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "client/gatemillapi.h"
#include "tests/client/support/recordingpellmar.h"
#include "tests/client/support/scriptfile.h"

namespace {

using gmtest::Count;

constexpr int16_t kNoRecord = -25;

class OracleProgram : public ::testing::Test {
protected:
    void SetUp() override {
        // IsamConnection off: the check-up does no catalogue work.
        const std::string script =
            "RESULT\tselect sid || ','|| serial# CODE from v$session*\n"
            "COLUMN\tCODE\t1\t40\nROW\t17,4711\n"
            "RESULT\tselect * from v$version\nCOLUMN\tBANNER\t1\t80\n"
            "ROW\tOracle Database 11g Release 11.2.0.4.0 - 64bit Production\n"
            "RESULT\tselect CODE, PRICE from ROAD\nCOLUMN\tCODE\t1\t10\nCOLUMN\tPRICE\t2\t22\n"
            "ROW\tK1\t1.5\nROW\tK2\t2.5\n";
        ASSERT_TRUE(served.Start(
            [](u16 port) {
                return "[General]\r\nPort=" + std::to_string(port) +
                       "\r\nThreadMin=2\r\nThreadInc=1\r\n[Oracle]\r\nClientLibrary=" +
                       GM_RECOCI_PATH + "\r\n[ORACLE/ORCL]\r\nIsamConnection=0\r\nLogAction=1\r\n";
            },
            script));
        program = &pellmar.Program();
    }
    void TearDown() override { pellmar.Stop(); }
    std::string Log() const { return served.Log(); }

    gmtest::TempDir dir;
    gmtest::RecordingPellmar served{dir, gmtest::tRecording::Oci};
    gmtest::PellmarRun& pellmar = served.pellmar;
    gmtest::ProgramRun* program = nullptr;
};

TEST_F(OracleProgram, ConnectsQueriesExecutesAndControlsTransactions) {
    int16_t status = -1;
    const GM_HANDLE db = pellmar.Connection(status, "ORACLE/ORCL", "gatemill oracle");
    ASSERT_EQ(status, 0) << program->Output();
    char type[64] = "";
    EXPECT_EQ(GM_GetServerType(db, type), 0);
    EXPECT_STREQ(type, "WinNT");
    EXPECT_EQ(Count(Log(), "OCILogon("), 1u) << Log();
    EXPECT_EQ(Count(Log(), "OCIStmtPrepare(alter session set nls_language= 'AMERICAN' "), 1u);

    const int16_t wa = GM_Query(db, "select CODE, PRICE from ROAD");
    ASSERT_GT(wa, 0) << gmtest::ErrorOf(db);
    ASSERT_EQ(GM_First(db, wa, 0, 0), 0);
    const char* code = GM_GetInternalFld(db, wa, "CODE");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(std::string(code, strnlen(code, 10)), "K1");
    double price = 0;
    std::memcpy(&price, GM_GetInternalFld(db, wa, "PRICE"), sizeof price);
    EXPECT_EQ(price, 1.5);
    ASSERT_EQ(GM_Skip(db, wa, 0, 1, 0), 0);
    EXPECT_EQ(std::string(GM_GetInternalFld(db, wa, "CODE"), 2), "K2");
    EXPECT_EQ(GM_Skip(db, wa, 0, 1, 0), kNoRecord);

    EXPECT_EQ(GM_Execute(db, "update ROAD set PRICE = 3", 0), 0) << gmtest::ErrorOf(db);
    EXPECT_EQ(Count(Log(), "OCIStmtExecute(update ROAD set PRICE = 3,1,32)=0\n"), 1u) << Log();

    EXPECT_EQ(GM_StrCmtCtl(db), 0);
    EXPECT_EQ(GM_Execute(db, "update ROAD set PRICE = 4", 0), 0) << gmtest::ErrorOf(db);
    EXPECT_EQ(GM_Rollbk(db), 0);
    EXPECT_EQ(GM_EndCmtCtl(db), 0);
    const std::string calls = Log();
    const size_t executed = calls.find("OCIStmtExecute(update ROAD set PRICE = 4,1,0)=0\n");
    ASSERT_NE(executed, std::string::npos) << calls;
    EXPECT_NE(calls.find("OCITransRollback(0)=0\n", executed), std::string::npos) << calls;

    // The thread comment reaches the session's action with its quote doubled.
    char comment[64] = "Ana's report";
    GM_InternalF(db, 1, comment, static_cast<int16_t>(std::strlen(comment)), sizeof comment - 1);
    // The reply may come before the session's action is set: wait for the library's log.
    bool logged = false;
    for (int i = 0; i < 100 && !logged; ++i) {
        logged = Log().find("SET_ACTION ( 'gatemill oracle : Ana''s report'); end;") !=
                 std::string::npos;
        if (!logged) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(logged) << Log();
}

}  // namespace
