// A round trip through the bound entry points to the recording driver: a scripted result set
// comes back through the table, and the driver's log holds the statements and parameters sent.
#include <gtest/gtest.h>

#include <string>

#include "server/drivers/odbc_entry.h"
#include "tests/server/support/recodbc_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

TEST(ODBCRecording, ScriptedRowsComeBackThroughTheTableAndTheLogHoldsWhatWasSent) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    process.SetIni("General", "ODBC30", "1");
    process.SetIni("MSSQL", "ClientLibrary", GM_RECODBC_PATH);
    tODBCLibrary loader;
    ASSERT_TRUE(loader.Load("MSSQL", tString("RECORD")));
    ASSERT_TRUE(loader.UseODBC3());
    const tODBCEntryPoints& odbc = loader.Entries();

    gmtest::RecordingDriver rec;
    rec.Reset();
    const char* select = "SELECT R_E_C_N_O_, NOME FROM CLIENTES WHERE CODIGO = ?";
    rec.AddResult(select);
    rec.AddColumn("R_E_C_N_O_", SQL_DOUBLE, 15, 0, SQL_NO_NULLS);
    rec.AddColumn("NOME", SQL_CHAR, 20, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("7");
    rec.AddValue("MARIA");
    rec.AddRow();
    rec.AddValue("12");
    rec.AddValue(nullptr);

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(odbc.SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    ASSERT_EQ(
        odbc.SQLConnect(dbc, Text("RECDSN"), SQL_NTS, Text("gm"), SQL_NTS, Text("pw"), SQL_NTS),
        SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);

    ASSERT_EQ(odbc.SQLPrepare(stmt, Text(select), SQL_NTS), SQL_SUCCESS);
    char code[] = "A01";
    SQLLEN codeLength = SQL_NTS;
    ASSERT_EQ(odbc.SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 3, 0, code,
                                    sizeof code, &codeLength),
              SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLExecute(stmt), SQL_SUCCESS);
    SQLSMALLINT columns = 0;
    ASSERT_EQ(odbc.SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 2);

    double recno = 0.0;
    char name[21] = {};
    SQLLEN recnoLength = 0;
    SQLLEN nameLength = 0;
    ASSERT_EQ(odbc.SQLBindCol(stmt, 1, SQL_C_DOUBLE, &recno, 0, &recnoLength), SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLBindCol(stmt, 2, SQL_C_CHAR, name, sizeof name, &nameLength), SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(recno, 7.0);
    EXPECT_STREQ(name, "MARIA");
    EXPECT_EQ(nameLength, 5);
    ASSERT_EQ(odbc.SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(recno, 12.0);
    EXPECT_EQ(nameLength, SQL_NULL_DATA);
    EXPECT_EQ(odbc.SQLFetch(stmt), SQL_NO_DATA);
    ASSERT_EQ(odbc.SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
    ASSERT_EQ(odbc.SQLFreeStmt(stmt, SQL_RESET_PARAMS), SQL_SUCCESS);

    const char* update = "UPDATE CLIENTES SET NOME = 'JOSE' WHERE R_E_C_N_O_ = 12";
    EXPECT_EQ(odbc.SQLExecDirect(stmt, Text(update), SQL_NTS), SQL_SUCCESS);

    EXPECT_EQ(rec.Statements(), std::string(select) + " [1='A01']\n" + update + "\n");
    EXPECT_EQ(rec.Pending(), 0);

    EXPECT_EQ(odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
    EXPECT_EQ(odbc.SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(odbc.SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(odbc.SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()),
              std::string("[INFO] Connection [MSSQL/RECORD] using client library [") +
                  GM_RECODBC_PATH + "] (ODBC30)\n");
}

}  // namespace
