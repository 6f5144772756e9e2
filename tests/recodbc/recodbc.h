// Control interface of the recording ODBC driver library libgmrecodbc.so: a driver manager and
// driver in one, exporting the ODBC entry points with unixODBC's signatures, that plays back
// scripted results and records every call. Tests use it in place of a real driver manager for
// databases this machine lacks, and assert on the SQL text and bound values our code produced.
//
// Loading: dlopen the path in the compile definition GM_RECODBC_PATH (the same path given to our
// ODBC loader, so both share one instance) and resolve these functions with dlsym, e.g.
// reinterpret_cast<decltype(&RecOdbcReset)>(dlsym(lib, "RecOdbcReset")). A program that does not
// link unixODBC may instead link the CMake target gmrecodbc; a dlopen of the path then finds that
// same instance. The library is never unloaded (linked -z nodelete): after a dlclose, the next
// dlopen still sees its handles, scripts and log. GM_RECODBC_NOCONNECT_PATH names a variant
// built without the entry point "SQLConnect".
//
// Driven from outside (a server process that binds it as its client library): when the
// environment variable GM_RECODBC_SCRIPT names a file, its script is added when the library
// starts, one tab-separated line each ('#' begins a comment line):
//   RESULT <pattern>                     as RecOdbcAddResult
//   COLUMN <name> <SQL type> <size>      as RecOdbcAddColumn (0 decimals, nullability unknown)
//   ROW <value>...                       one value per column; \N is SQL NULL
//   OUTPUT <parameter> <value>           as RecOdbcSetOutput (from 1; \N is SQL NULL)
//   FAIL <target> <SQLSTATE> <native> <text>   as RecOdbcFailNext
// When GM_RECODBC_LOG names a file, every call appends one line to it: the call's line as
// RecOdbcCalls gives it, and for an execution a tab and its line as RecOdbcStatements gives it.
//
// Scripts are matched against executions in the order they were added:
//  - A SQL pattern is "*" (any statement), a text ending in '*' (every statement that starts with
//    the text before that '*'), or any other text (exactly that statement).
//  - An execution is SQLExecDirect, SQLExecute of the prepared text, the SQLParamData that ends
//    a data-at-execution sequence, and the catalogue calls, whose statement text is
//    "SQLTables(catalog,schema,table,type)" or "SQLProcedureColumns(catalog,schema,proc,column)"
//    with null arguments left empty.
//  - Each execution consumes the first scripted result whose pattern matches. An execution
//    without one succeeds with no result set and a row count of 0.
//
// Defaults: connecting always succeeds (unless scripted to fail), whatever the user and
// password; SQLGetInfo answers SQL_DRIVER_NAME "libgmrecodbc.so", SQL_DRIVER_VER "01.00.0000",
// SQL_DRIVER_ODBC_VER "03.00", SQL_DBMS_NAME "RECODBC", SQL_DBMS_VER "01.00.0000" and
// SQL_DATA_SOURCE_NAME (the DSN connected to); any other type fails with HY096 unless scripted.
// Misuse that the real interface reports (an unknown or freed handle, a fetch without a result,
// freeing a connected connection) returns SQL_INVALID_HANDLE or SQL_ERROR with the standard
// SQLSTATE, and is logged like every call.
//
// Misuse of this control interface (a column after rows, a value beyond the columns, adding to no
// result) is a mistake in the test: the library prints it and aborts the program.
//
// Threads: one lock guards the whole library. Texts returned by the control functions stay valid
// until the next call of the same function (RecOdbcCalls, RecOdbcStatements) or until
// RecOdbcReset or RecOdbcClearLog (log entries).
#pragma once
#include <sql.h>
#include <sqlext.h>

#ifdef __cplusplus
extern "C" {
#endif

// Forgets every script, failure and log entry and restores the default info answers. Live
// handles stay valid.
void RecOdbcReset(void);

// ---- Scripted results: each call below adds to the result most recently added (until an
// execution takes it).
void RecOdbcAddResult(const char* sqlPattern);
void RecOdbcAddColumn(const char* name, SQLSMALLINT sqlType, SQLULEN columnSize,
                      SQLSMALLINT decimals, SQLSMALLINT nullable);
void RecOdbcAddRow(void);
// The next value of the current row, as text: converted at fetch time to the C type asked for
// (numbers with strtod rules, dates as "YYYY-MM-DD", timestamps as "YYYY-MM-DD HH:MM:SS[.f]").
// A null pointer is SQL NULL.
void RecOdbcAddValue(const char* text);
void RecOdbcAddValueBytes(const void* bytes, SQLLEN length);  // for binary or embedded NULs
// SQLRowCount's answer; by default -1 for a result with columns, else 0.
void RecOdbcSetRowCount(SQLLEN rowCount);
// A value that the execution writes into output parameter `parameter` (converted like a column).
void RecOdbcSetOutput(SQLUSMALLINT parameter, const char* text);

// ---- Scripted failures and warnings, each used once. The target is an entry-point name
// ("SQLConnect", "SQLFetch", ...): the next call of that function fails without doing anything,
// or, for a warning, does its work and returns SQL_SUCCESS_WITH_INFO. Any other target is a SQL
// pattern: the next matching execution fails (or warns). The diagnostic record (SQLSTATE, native
// code, message text verbatim) goes to the handle the call was made on.
void RecOdbcFailNext(const char* target, const char* sqlstate, SQLINTEGER native, const char* text);
void RecOdbcWarnNext(const char* target, const char* sqlstate, SQLINTEGER native, const char* text);
// The next execution that matches the SQL pattern runs and answers SQL_NO_DATA without a
// diagnostic, as a searched update or delete that touched no row does.
void RecOdbcNoRowsNext(const char* sqlPattern);

// ---- SQLGetInfo answers. A null text makes the type unanswered (HY096). bytes is 2 or 4.
void RecOdbcSetInfoText(SQLUSMALLINT infoType, const char* text);
void RecOdbcSetInfoNumber(SQLUSMALLINT infoType, SQLUINTEGER value, int bytes);

// Scripted results and failures not used yet; a test can assert 0 after the code ran.
int RecOdbcPendingScripts(void);

// ---- The call log: one entry per ODBC call, in call order.
typedef struct RecOdbcParam {
    SQLUSMALLINT number;
    SQLSMALLINT ioType, cType, sqlType;
    SQLULEN columnSize;
    SQLSMALLINT decimals;
    SQLLEN bufferLength;
    SQLLEN indicator;   // what the length/indicator held at execution; SQL_NTS when none was bound
    const char* bytes;  // the value's bytes at execution (data at execution: what was put)
    SQLLEN byteCount;   // -1 for NULL and for output parameters
    // The value as text: 'text' (quotes doubled), 42, 2.5, 0x0aff, {d '2010-12-25'},
    // {t '10:20:30'}, {ts '2010-12-25 10:20:30.000000000'}, NULL, or OUT for an output parameter.
    const char* text;
} RecOdbcParam;

typedef struct RecOdbcEntry {
    const char* call;  // the entry point, e.g. "SQLExecDirect"
    int handle;        // serial number of the handle the call was made on (0: none or unknown)
    // The call's number arguments in signature order, comma-separated (handles, output pointers
    // and texts left out; string attribute values in quotes). An allocation adds the new
    // handle's serial number last.
    const char* args;
    // The statement text (prepare, executions, catalogue calls), the connection text for
    // SQLConnect ("DSN=..;UID=..;PWD=..") and SQLDriverConnect, the name for SQLSetCursorName.
    const char* sql;
    int executed;        // 1 when this call ran the statement (the one a script matches)
    const char* params;  // the executed parameters, "1='abc', 2=NULL"; "" when none
    int paramCount;
    const RecOdbcParam* param;  // paramCount entries, in parameter number order
    SQLRETURN rc;
} RecOdbcEntry;

int RecOdbcLogCount(void);
int RecOdbcLogEntry(int index, RecOdbcEntry* entry);  // 0, or -1 when index is out of range
void RecOdbcClearLog(void);
// Every call, one line each: "SQLSetConnectAttr(102,0,0)=0".
const char* RecOdbcCalls(void);
// Every execution, one line each: the statement text, then " [" params "]" when it had any;
// failed executions included.
const char* RecOdbcStatements(void);

#ifdef __cplusplus
}
#endif
