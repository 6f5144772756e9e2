// The recording ODBC driver library, loaded at run time as our ODBC loader loads it: scripted
// result sets, failures with their diagnostics, data at execution, and the call log.
#include "tests/recodbc/recodbc.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* const kAllEntryPoints[] = {
    "SQLError",         "SQLFreeConnect",      "SQLConnect",        "SQLDriverConnect",
    "SQLDisconnect",    "SQLSetConnectOption", "SQLAllocEnv",       "SQLAllocConnect",
    "SQLTransact",      "SQLFreeEnv",          "SQLGetFunctions",   "SQLAllocStmt",
    "SQLSetStmtOption", "SQLFreeStmt",         "SQLParamData",      "SQLPrepare",
    "SQLExecute",       "SQLExecDirect",       "SQLNumResultCols",  "SQLMoreResults",
    "SQLDescribeCol",   "SQLProcedureColumns", "SQLFetch",          "SQLExtendedFetch",
    "SQLGetData",       "SQLPutData",          "SQLBindCol",        "SQLBindParameter",
    "SQLTables",        "SQLDrivers",          "SQLGetInfo",        "SQLGetDiagRec",
    "SQLGetDiagField",  "SQLAllocHandle",      "SQLSetConnectAttr", "SQLGetConnectAttr",
    "SQLEndTran",       "SQLFreeHandle",       "SQLSetEnvAttr",     "SQLSetStmtAttr",
    "SQLGetStmtAttr",   "SQLFetchScroll",      "SQLRowCount",       "SQLSetCursorName"};

SQLCHAR* Sql(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// The library opened by path, with the functions the tests call resolved by name. Each test
// starts from a reset library with a connected connection and one statement.
class RecOdbc : public ::testing::Test {
protected:
    template <typename F>
    F Resolve(F, const char* name) {
        void* p = dlsym(lib, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }
#define GM_RESOLVE(name) decltype(&::name) name = Resolve(&::name, #name)

    void* lib = dlopen(GM_RECODBC_PATH, RTLD_NOW | RTLD_LOCAL);
    GM_RESOLVE(RecOdbcReset);
    GM_RESOLVE(RecOdbcAddResult);
    GM_RESOLVE(RecOdbcAddColumn);
    GM_RESOLVE(RecOdbcAddRow);
    GM_RESOLVE(RecOdbcAddValue);
    GM_RESOLVE(RecOdbcFailNext);
    GM_RESOLVE(RecOdbcWarnNext);
    GM_RESOLVE(RecOdbcNoRowsNext);
    GM_RESOLVE(RecOdbcSetOutput);
    GM_RESOLVE(RecOdbcSetInfoText);
    GM_RESOLVE(RecOdbcPendingScripts);
    GM_RESOLVE(RecOdbcLogCount);
    GM_RESOLVE(RecOdbcLogEntry);
    GM_RESOLVE(RecOdbcCalls);
    GM_RESOLVE(RecOdbcStatements);
    GM_RESOLVE(SQLAllocHandle);
    GM_RESOLVE(SQLFreeHandle);
    GM_RESOLVE(SQLConnect);
    GM_RESOLVE(SQLDisconnect);
    GM_RESOLVE(SQLExecDirect);
    GM_RESOLVE(SQLPrepare);
    GM_RESOLVE(SQLExecute);
    GM_RESOLVE(SQLBindParameter);
    GM_RESOLVE(SQLParamData);
    GM_RESOLVE(SQLPutData);
    GM_RESOLVE(SQLNumResultCols);
    GM_RESOLVE(SQLDescribeCol);
    GM_RESOLVE(SQLBindCol);
    GM_RESOLVE(SQLFetch);
    GM_RESOLVE(SQLGetData);
    GM_RESOLVE(SQLGetDiagRec);
    GM_RESOLVE(SQLGetInfo);
    GM_RESOLVE(SQLProcedureColumns);
    GM_RESOLVE(SQLError);
#undef GM_RESOLVE

    void SetUp() override {
        ASSERT_NE(lib, nullptr) << dlerror();
        RecOdbcReset();
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
        ASSERT_EQ(
            SQLConnect(dbc, Sql("MSSQL_ALIAS"), SQL_NTS, Sql("sa"), SQL_NTS, Sql("pw"), SQL_NTS),
            SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    }

    void TearDown() override {
        if (!lib) return;
        SQLDisconnect(dbc);  // frees the statement too
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        dlclose(lib);
    }

    // Scripts "SELECT ID, NAME FROM T": an integer and a nullable VARCHAR(20), three rows.
    void ScriptThreeRows() {
        RecOdbcAddResult("SELECT ID, NAME FROM T");
        RecOdbcAddColumn("ID", SQL_INTEGER, 10, 0, SQL_NO_NULLS);
        RecOdbcAddColumn("NAME", SQL_VARCHAR, 20, 0, SQL_NULLABLE);
        const char* rows[3][2] = {{"1", "alpha"}, {"2", nullptr}, {"3", "gamma-long"}};
        for (const auto& row : rows) {
            RecOdbcAddRow();
            RecOdbcAddValue(row[0]);
            RecOdbcAddValue(row[1]);
        }
    }

    std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record = 1) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[64] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRec(type, handle, record, state, &native, message, sizeof message, &length);
        if (rc == SQL_NO_DATA) return "(none)";
        return std::string(reinterpret_cast<char*>(state)) + " " + std::to_string(native) + " " +
               reinterpret_cast<char*>(message);
    }

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
};

TEST_F(RecOdbc, ScriptedResultPlaysBackThroughBoundColumns) {
    ScriptThreeRows();
    ASSERT_EQ(SQLExecDirect(stmt, Sql("SELECT ID, NAME FROM T"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(RecOdbcPendingScripts(), 0);
    SQLSMALLINT columns = 0;
    ASSERT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
    ASSERT_EQ(columns, 2);
    SQLCHAR name[8] = {};
    SQLSMALLINT nameLength = 0, type = 0, decimals = -1, nullable = -1;
    SQLULEN size = 0;
    ASSERT_EQ(
        SQLDescribeCol(stmt, 2, name, sizeof name, &nameLength, &type, &size, &decimals, &nullable),
        SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "NAME");
    EXPECT_EQ(nameLength, 4);
    EXPECT_EQ(type, SQL_VARCHAR);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(decimals, 0);
    EXPECT_EQ(nullable, SQL_NULLABLE);

    double id = 0;
    char text[6] = {};
    SQLLEN idLength = 0, textLength = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_DOUBLE, &id, sizeof id, &idLength), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, text, sizeof text, &textLength), SQL_SUCCESS);
    const struct {
        SQLRETURN rc;
        double id;
        const char* text;
        SQLLEN length;
    } expected[] = {{SQL_SUCCESS, 1, "alpha", 5},
                    {SQL_SUCCESS, 2, "alpha", SQL_NULL_DATA},  // NULL leaves the buffer alone
                    {SQL_SUCCESS_WITH_INFO, 3, "gamma", 10}};  // cut to the buffer
    for (const auto& row : expected) {
        SCOPED_TRACE(row.id);
        ASSERT_EQ(SQLFetch(stmt), row.rc);
        EXPECT_EQ(id, row.id);
        EXPECT_EQ(idLength, SQLLEN(sizeof(double)));
        EXPECT_STREQ(text, row.text);
        EXPECT_EQ(textLength, row.length);
    }
    EXPECT_EQ(Diagnostic(SQL_HANDLE_STMT, stmt), "01004 0 String data, right truncated");
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(RecOdbc, GetDataDeliversAValueInPiecesThenNoData) {
    ScriptThreeRows();
    ASSERT_EQ(SQLExecDirect(stmt, Sql("SELECT ID, NAME FROM T"), SQL_NTS), SQL_SUCCESS);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);  // nothing bound
    const struct {
        SQLRETURN rc;
        const char* piece;
        SQLLEN length;  // what was left before the call
    } pieces[] = {{SQL_SUCCESS_WITH_INFO, "gam", 10},
                  {SQL_SUCCESS_WITH_INFO, "ma-", 7},
                  {SQL_SUCCESS_WITH_INFO, "lon", 4},
                  {SQL_SUCCESS, "g", 1},
                  {SQL_NO_DATA, "g", 1}};
    char piece[4] = {};
    SQLLEN length = 0;
    for (const auto& p : pieces) {
        SCOPED_TRACE(p.piece);
        EXPECT_EQ(SQLGetData(stmt, 2, SQL_C_CHAR, piece, sizeof piece, &length), p.rc);
        EXPECT_STREQ(piece, p.piece);
        EXPECT_EQ(length, p.length);
    }
    SQLINTEGER id = 0;
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_LONG, &id, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(id, 3);
}

TEST_F(RecOdbc, ScriptedFailuresGiveTheirDiagnosticOnceOnTheCallingHandle) {
    RecOdbcFailNext("SQLConnect", "08001", 17, "server not found");
    RecOdbcFailNext("UPDATE T SET*", "23000", 2627, "duplicate key");
    SQLHDBC second = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &second), SQL_SUCCESS);
    EXPECT_EQ(SQLConnect(second, Sql("X"), SQL_NTS, Sql("u"), SQL_NTS, Sql("p"), SQL_NTS),
              SQL_ERROR);
    EXPECT_EQ(Diagnostic(SQL_HANDLE_DBC, second), "08001 17 server not found");
    EXPECT_EQ(Diagnostic(SQL_HANDLE_DBC, second, 2), "(none)");
    EXPECT_EQ(Diagnostic(SQL_HANDLE_DBC, dbc), "(none)");
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, second), SQL_SUCCESS);  // never connected

    EXPECT_EQ(SQLExecDirect(stmt, Sql("UPDATE T SET A = 1"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(RecOdbcPendingScripts(), 0);
    // ODBC 1 diagnostics: a small buffer cuts the text; each call takes its record away.
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[5] = {};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLError(env, dbc, stmt, state, &native, message, sizeof message, &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(reinterpret_cast<char*>(state), "23000");
    EXPECT_EQ(native, 2627);
    EXPECT_STREQ(reinterpret_cast<char*>(message), "dupl");
    EXPECT_EQ(length, 13);
    EXPECT_EQ(SQLError(env, dbc, stmt, state, &native, message, sizeof message, &length),
              SQL_NO_DATA);
    EXPECT_EQ(SQLExecDirect(stmt, Sql("UPDATE T SET A = 1"), SQL_NTS), SQL_SUCCESS);
}

TEST_F(RecOdbc, MisuseIsReportedAsTheInterfaceReportsIt) {
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(Diagnostic(SQL_HANDLE_STMT, stmt), "24000 0 Invalid cursor state");
    EXPECT_EQ(SQLExecute(stmt), SQL_ERROR);  // nothing prepared
    EXPECT_EQ(Diagnostic(SQL_HANDLE_STMT, stmt), "HY010 0 Function sequence error");
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_ERROR);  // still connected
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(SQLExecDirect(stmt, Sql("SELECT 1"), SQL_NTS), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_ERROR);
    EXPECT_EQ(Diagnostic(SQL_HANDLE_DBC, dbc), "08003 0 Connection not open");
}

TEST_F(RecOdbc, LogRecordsStatementsAndTheValuesBoundAtEachExecution) {
    char name[16] = "O'Neil";
    SQLLEN nameIndicator = SQL_NTS;
    SQLINTEGER recno = 42;
    ASSERT_EQ(SQLPrepare(stmt, Sql("UPDATE T SET NAME = ? WHERE R = ?"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 15, 0, name, 0,
                               &nameIndicator),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 4, 0, &recno, 0,
                               nullptr),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
    nameIndicator = SQL_NULL_DATA;
    recno = -7;
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);

    EXPECT_STREQ(RecOdbcStatements(),
                 "UPDATE T SET NAME = ? WHERE R = ? [1='O''Neil', 2=42]\n"
                 "UPDATE T SET NAME = ? WHERE R = ? [1=NULL, 2=-7]\n");
    const std::string calls = RecOdbcCalls();
    EXPECT_NE(calls.find("SQLConnect(-3,-3,-3)=0\n"), std::string::npos) << calls;
    EXPECT_NE(calls.find("SQLBindParameter(1,1,1,12,15,0,0)=0\n"), std::string::npos) << calls;

    RecOdbcEntry e{};
    ASSERT_EQ(RecOdbcLogEntry(RecOdbcLogCount() - 2, &e), 0);  // the first execute
    EXPECT_STREQ(e.call, "SQLExecute");
    EXPECT_EQ(e.executed, 1);
    ASSERT_EQ(e.paramCount, 2);
    EXPECT_EQ(e.param[0].sqlType, SQL_VARCHAR);
    EXPECT_EQ(e.param[0].columnSize, 15u);
    EXPECT_EQ(e.param[0].indicator, SQL_NTS);
    EXPECT_EQ(std::string(e.param[0].bytes, size_t(e.param[0].byteCount)), "O'Neil");
    EXPECT_EQ(e.param[1].cType, SQL_C_LONG);
    EXPECT_EQ(e.param[1].byteCount, 4);
    EXPECT_EQ(RecOdbcLogEntry(RecOdbcLogCount(), &e), -1);
}

TEST_F(RecOdbc, DataAtExecutionParameterIsAskedForAndRecordedAsSent) {
    SQLLEN atExec = SQL_DATA_AT_EXEC;
    SQLPOINTER token = reinterpret_cast<SQLPOINTER>(1);
    ASSERT_EQ(SQLPrepare(stmt, Sql("UPDATE T SET MEMO = ?"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, 1, 1,
                               token, 0, &atExec),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt), SQL_NEED_DATA);
    SQLPOINTER asked = nullptr;
    ASSERT_EQ(SQLParamData(stmt, &asked), SQL_NEED_DATA);
    EXPECT_EQ(asked, token);
    const char bytes[] = {'\x00', '\x7f', '\xff'};
    ASSERT_EQ(SQLPutData(stmt, const_cast<char*>(bytes), 2), SQL_SUCCESS);
    ASSERT_EQ(SQLPutData(stmt, const_cast<char*>(bytes + 2), 1), SQL_SUCCESS);
    EXPECT_EQ(RecOdbcStatements(), std::string());  // nothing ran yet
    ASSERT_EQ(SQLParamData(stmt, &asked), SQL_SUCCESS);
    EXPECT_STREQ(RecOdbcStatements(), "UPDATE T SET MEMO = ? [1=0x007fff]\n");
}

TEST_F(RecOdbc, ProcedureCallReadsItsCatalogueRowsAndReceivesScriptedOutputs) {
    RecOdbcAddResult("SQLProcedureColumns(,dbo,P,)");
    RecOdbcAddColumn("COLUMN_NAME", SQL_VARCHAR, 128, 0, SQL_NO_NULLS);
    RecOdbcAddColumn("COLUMN_TYPE", SQL_SMALLINT, 5, 0, SQL_NO_NULLS);
    for (const char* row : {"@IN_CODE", "@OUT_TOTAL"}) {
        RecOdbcAddRow();
        RecOdbcAddValue(row);
        RecOdbcAddValue(row[1] == 'I' ? "1" : "4");
    }
    RecOdbcAddResult("{ call dbo.P(?,?) }");
    RecOdbcSetOutput(2, "12.5");

    ASSERT_EQ(SQLProcedureColumns(stmt, nullptr, 0, Sql("dbo"), 3, Sql("P"), 1, nullptr, 0),
              SQL_SUCCESS);
    SQLSMALLINT type = 0;
    SQLLEN length = 0;
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_SHORT, &type, 0, &length), SQL_SUCCESS);
    for (SQLSMALLINT expected : {1, 4}) {
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
        EXPECT_EQ(type, expected);
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);

    char code[] = "A1";
    double total = 0;
    SQLLEN totalLength = 0;
    ASSERT_EQ(SQLPrepare(stmt, Sql("{ call dbo.P(?,?) }"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 2, 0, code, 0, nullptr),
        SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_OUTPUT, SQL_C_DOUBLE, SQL_DOUBLE, 8, 0, &total, 8,
                               &totalLength),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
    EXPECT_EQ(total, 12.5);
    EXPECT_EQ(totalLength, 8);
    EXPECT_STREQ(RecOdbcStatements(),
                 "SQLProcedureColumns(,dbo,P,)\n{ call dbo.P(?,?) } [1='A1', 2=OUT]\n");
}

TEST_F(RecOdbc, InfoAnswersAndScriptedWarningsLetTheCallSucceed) {
    RecOdbcSetInfoText(SQL_DBMS_NAME, "Microsoft SQL Server");
    const struct {
        SQLUSMALLINT type;
        SQLSMALLINT capacity;
        SQLRETURN rc;
        const char* text;
        SQLSMALLINT length;
    } cases[] = {{SQL_DRIVER_NAME, 256, SQL_SUCCESS, "libgmrecodbc.so", 15},
                 {SQL_DATA_SOURCE_NAME, 256, SQL_SUCCESS, "MSSQL_ALIAS", 11},
                 {SQL_DBMS_NAME, 10, SQL_SUCCESS_WITH_INFO, "Microsoft", 20},
                 {SQL_SERVER_NAME, 256, SQL_ERROR, "", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        char text[256] = {};
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQLGetInfo(dbc, c.type, text, c.capacity, &length), c.rc);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(length, c.length);
    }
    EXPECT_EQ(Diagnostic(SQL_HANDLE_DBC, dbc), "HY096 0 Information type out of range");

    RecOdbcWarnNext("SQLExecDirect", "01000", 5701, "Changed database context");
    EXPECT_EQ(SQLExecDirect(stmt, Sql("USE db"), SQL_NTS), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(Diagnostic(SQL_HANDLE_STMT, stmt), "01000 5701 Changed database context");
    EXPECT_STREQ(RecOdbcStatements(), "USE db\n");
}

TEST_F(RecOdbc, ScriptedNoRowsAnswersNoDataOnceForItsStatement) {
    RecOdbcNoRowsNext("UPDATE T*");
    EXPECT_EQ(SQLExecDirect(stmt, Sql("UPDATE U SET A = 1"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(SQLExecDirect(stmt, Sql("UPDATE T SET A = 1"), SQL_NTS), SQL_NO_DATA);
    EXPECT_EQ(SQLExecDirect(stmt, Sql("UPDATE T SET A = 1"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(RecOdbcPendingScripts(), 0);
}

TEST(RecOdbcLibrary, ExportsEveryEntryPointAndTheVariantLacksOnlySQLConnect) {
    void* full = dlopen(GM_RECODBC_PATH, RTLD_NOW | RTLD_LOCAL);
    void* variant = dlopen(GM_RECODBC_NOCONNECT_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(full, nullptr) << dlerror();
    ASSERT_NE(variant, nullptr) << dlerror();
    for (const char* name : kAllEntryPoints) {
        SCOPED_TRACE(name);
        EXPECT_NE(dlsym(full, name), nullptr);
        EXPECT_EQ(dlsym(variant, name) == nullptr, std::strcmp(name, "SQLConnect") == 0);
    }
    dlclose(variant);
    dlclose(full);
}

}  // namespace
