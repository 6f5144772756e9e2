// The ODBC statement's handle and executions: direct execution with the read-only refusal,
// prepared statements run with the record number as their parameter, and the error path that
// closes the handle.
#include <cctype>
#include <cstring>
#include <string>

#include "lib_base/printer.h"
#include "lib_common/retcodes.h"
#include "server/drivers/odbc.h"
#include "server/isam/dbprocess.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

namespace {

constexpr SQLULEN kMaxValueLength = 1048576;  // bytes of one value the driver returns
// Stands for the statement text of a prepared statement run without one.
constexpr const char* kPreparedText = "#EXEC_PREPARED_STMT#";

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// How a database family reads quotes and comments.
struct tLexRules {
    bool backslashEscapes;  // inside quotes, a backslash takes the next character
    bool hashComments;      // '#' comments to the end of the line
    bool dollarQuotes;      // $tag$ ... $tag$ quotes
};
const tLexRules kStandardRules = {false, false, true};  // PostgreSQL, SQL Server, Sybase
const tLexRules kMySQLRules = {true, true, false};

// Words that make a query write or chain: a data-modifying WITH, SELECT ... INTO.
const char* const kWriteWords[] = {"INSERT", "UPDATE", "DELETE", "MERGE",   "INTO",
                                   "CREATE", "DROP",   "ALTER",  "TRUNCATE"};

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsWriteWord(const char* word, size_t length) {
    char upper[16];
    if (length >= sizeof upper) return false;
    for (size_t i = 0; i < length; ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[i])));
    }
    upper[length] = '\0';
    for (const char* w : kWriteWords) {
        if (std::strcmp(upper, w) == 0) return true;
    }
    return false;
}

// The end of the quoted text that starts at p (its closing quote's next character), or null
// when it stays open.
const char* SkipQuoted(const char* p, const tLexRules& rules) {
    const char quote = *p;
    for (++p; *p; ++p) {
        if (rules.backslashEscapes && *p == '\\') {
            if (!*++p) return nullptr;
        } else if (*p == quote) {
            return p + 1;
        }
    }
    return nullptr;
}

// A dollar quote's end when p starts one ("$$" or "$tag$"), p itself when it does not, or null
// when it stays open.
const char* SkipDollarQuoted(const char* p) {
    const char* tagEnd = p + 1;
    while (std::isalnum(static_cast<unsigned char>(*tagEnd)) || *tagEnd == '_') ++tagEnd;
    if (*tagEnd != '$') return p;
    const std::string tag(p, static_cast<size_t>(tagEnd - p + 1));
    const char* close = std::strstr(tagEnd + 1, tag.c_str());
    return close ? close + tag.size() : nullptr;
}

// Whether the text, read by these rules, chains statements (a ';'), holds a word that makes a
// query write, or leaves a quote or comment open, all outside quotes and comments.
bool MayWrite(const char* sql, const tLexRules& rules) {
    for (const char* p = sql; *p;) {
        const char c = *p;
        const bool wordBefore = p > sql && IsWordChar(p[-1]);
        if (c == ';') return true;
        if (c == '\'' || c == '"' || c == '`') {
            p = SkipQuoted(p, rules);
        } else if (c == '$' && rules.dollarQuotes && !wordBefore) {
            const char* end = SkipDollarQuoted(p);
            p = end == p ? p + 1 : end;
        } else if ((c == '-' && p[1] == '-' && (p[2] == '\0' || std::isspace(p[2]))) ||
                   (c == '#' && rules.hashComments)) {
            p = std::strchr(p, '\n');
            if (!p) return false;
        } else if (c == '/' && p[1] == '*' && !(rules.hashComments && p[2] == '!')) {
            // MySQL runs the text of a "/*!" comment, so that one is read as code.
            p = std::strstr(p + 2, "*/");
            if (p) p += 2;
        } else if (IsWordChar(c)) {
            const char* start = p;
            while (IsWordChar(*p)) ++p;
            if (IsWriteWord(start, static_cast<size_t>(p - start))) return true;
        } else {
            ++p;
        }
        if (!p) return true;
    }
    return false;
}

}  // namespace

tODBCStatement::tODBCStatement(tODBCConnection* connection)
    : tStatement(connection), odbc(*connection) {}

tODBCStatement::~tODBCStatement() { tODBCStatement::Close(); }

bool tODBCStatement::Check(SQLRETURN rc, const char* routine, const char* sql) {
    lastRc = rc;
    if (!IsODBCFailure(rc)) return true;
    lastFailure = odbc.HandleError(this, routine, sql, rc, 1);
    return false;
}

void tODBCStatement::ReportInfo(SQLRETURN rc, const char* routine, const char* sql) {
    if (rc == SQL_SUCCESS_WITH_INFO) lastFailure = odbc.HandleError(this, routine, sql, rc, 1);
}

bool tODBCStatement::AcceptWriteInfo(SQLRETURN rc, const char* routine, const char* sql) {
    if (rc != SQL_SUCCESS_WITH_INFO) return true;
    i32 native = 0;
    const bool cut = odbc.HandleWriteWarning(this, routine, sql, native);
    lastFailure = native;
    if (!cut) return true;
    Close();
    return false;
}

bool tODBCStatement::FailNoRow(const char* routine, const char* sql) {
    tString message("No row took the value. STMT (");
    message += sql;
    message += ")";
    odbc.SetError(RC_FAILED, routine, message, nullptr);
    lastFailure = RC_FAILED;
    return false;
}

void tODBCStatement::NoteStatement(const char* sql, const char* routine) {
    tDBSession* session = odbc.GetDBServer();
    if (session && DBProcess().GetThreadInfo()) session->SetLastStatement(routine, sql);
}

void tODBCStatement::OpLog(const char* routine, const char* sql) {
    if (odbc.IsOpLog()) odbc.OpLogStmt(routine, sql);
}

void tODBCStatement::Open(u8 scanEscapes) {
    if (handle != SQL_NULL_HSTMT) Close();
    lastRc = 0;
    const char* routine = "tODBCStatement::Open";
    SQLHDBC dbc = odbc.GetHandle();
    const SQLRETURN rc = odbc.UseODBC3()
                             ? GM_ODBC(odbc, SQLAllocHandle, SQL_HANDLE_STMT, dbc, &handle)
                             : GM_ODBC(odbc, SQLAllocStmt, dbc, &handle);
    if (!Check(rc, routine, nullptr)) {
        handle = SQL_NULL_HSTMT;
        Close();  // back to the defaults: the execution that asked ends here
        return;
    }
    if (scanEscapes == 0) {
        // Escape scanning off is only a hint. A driver that refuses it (SQLite's answers IM001)
        // scans the text, which leaves a text without escape clauses as it is: no error.
        const SQLRETURN noscan =
            odbc.UseODBC3() ? GM_ODBC(odbc, SQLSetStmtAttr, handle, SQL_ATTR_NOSCAN,
                                      reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), SQL_IS_INTEGER)
                            : GM_ODBC(odbc, SQLSetStmtOption, handle, SQL_NOSCAN, SQL_NOSCAN_ON);
        if (noscan == SQL_INVALID_HANDLE) Check(noscan, routine, nullptr);
    }
    if (retrieveData == 0) {
        Check(odbc.UseODBC3()
                  ? GM_ODBC(odbc, SQLSetStmtAttr, handle, SQL_ATTR_RETRIEVE_DATA,
                            reinterpret_cast<SQLPOINTER>(SQL_RD_OFF), SQL_IS_INTEGER)
                  : GM_ODBC(odbc, SQLSetStmtOption, handle, SQL_RETRIEVE_DATA, SQL_RD_OFF),
              routine, nullptr);
    }
    Check(GM_ODBC(odbc, SQLSetStmtOption, handle, SQL_MAX_LENGTH, kMaxValueLength), routine,
          nullptr);
}

void tODBCStatement::Close() {
    if (handle != SQL_NULL_HSTMT) {
        Check(odbc.UseODBC3() ? GM_ODBC(odbc, SQLFreeHandle, SQL_HANDLE_STMT, handle)
                              : GM_ODBC(odbc, SQLFreeStmt, handle, SQL_DROP),
              "tODBCStatement::Close", nullptr);
        handle = SQL_NULL_HSTMT;
        tDBSession* session = odbc.GetDBServer();
        if (session && DBProcess().GetThreadInfo()) session->ClearLastStatement();
    }
    // Only now that no handle points into them.
    boundValues.reset();
    boundIndicators.clear();
    procParams.reset();
    retrieveData = 1;
    bindColumns = 1;
    columnsBound = false;
    recnoBound = false;
    opened = 0;
}

bool tODBCStatement::FailExecution(SQLRETURN rc, const char* routine, const char* sql) {
    Check(rc, routine, sql);
    Close();
    return false;
}

bool tODBCStatement::IsRefusedWithoutConnection(const char* routine) {
    if (odbc.IsConnected()) return false;
    odbc.SetError(RC_FAILED, routine, "Invalid statement execute - NO DB CONNECTION.", nullptr);
    return true;
}

bool tODBCStatement::IsRefusedAsReadOnly(const char* sql, bool isQuery, const char* routine) {
    if (!odbc.IsReadOnly()) return false;
    // Only one statement that reads: read by the rules of either family of databases.
    if (isQuery && !MayWrite(sql, kStandardRules) && !MayWrite(sql, kMySQLRules)) return false;
    tString message("Invalid statement execute due READONLY connection. STMT (");
    message += sql;
    message += ")";
    odbc.SetError(RC_FAILED, routine, message, nullptr);
    return true;
}

bool tODBCStatement::ExecDirect(const char* sql, const char* routine, u8 report) {
    if (IsRefusedWithoutConnection(routine)) return false;
    const bool traced = odbc.IsTraced();
    const bool isQuery = IsSelect(sql);
    lastFailure = 0;
    if (IsRefusedAsReadOnly(sql, isQuery, routine)) return false;
    if (traced) odbc.TraceStart(routine);
    if (!isQuery) retrieveData = 0;
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, routine);
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecDirect, handle, Text(sql), SQL_NTS);
    lastRc = rc;
    bool result = true;
    if (IsODBCFailure(rc)) {
        lastFailure =
            report ? odbc.HandleError(this, routine, sql, rc, 1) : odbc.GetErrorText(this);
        Close();
        result = false;
    } else if (report) {
        ReportInfo(rc, routine, sql);
    }
    lastRc = 0;
    if (result) {
        if (traced) odbc.TraceEnd(sql);
        result = BindResult(isQuery);
    }
    OpLog(routine, sql);
    return result;
}

// Binds recnoParam as parameter 1 once per prepared handle; each run only rewrites the text.
bool tODBCStatement::BindRecnoParam(f64 recno, const char* routine, const char* sql) {
    RecnoToStr(recno, recnoText);
    std::memcpy(recnoParam, recnoText, sizeof recnoParam);
    recnoParamLength = static_cast<SQLLEN>(std::strlen(recnoParam));
    if (recnoBound) return true;
    const SQLRETURN rc =
        GM_ODBC(odbc, SQLBindParameter, handle, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                static_cast<SQLULEN>(sizeof recnoParam - 1), 0, recnoParam,
                static_cast<SQLLEN>(sizeof recnoParam), &recnoParamLength);
    if (!Check(rc, routine, sql)) return false;
    recnoBound = true;
    return true;
}

bool tODBCStatement::ExecWithRecno(const char* sql, f64 recno, const char* routine) {
    if (IsRefusedWithoutConnection(routine)) return false;
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(routine);
    lastFailure = 0;
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, routine);
    SQLRETURN rc = GM_ODBC(odbc, SQLPrepare, handle, Text(sql), SQL_NTS);
    if (IsODBCFailure(rc)) return FailExecution(rc, routine, sql);
    if (!BindRecnoParam(recno, routine, sql)) {
        Close();
        return false;
    }
    rc = GM_ODBC(odbc, SQLExecute, handle);
    if (IsODBCFailure(rc)) return FailExecution(rc, routine, sql);
    lastRc = rc;
    ReportInfo(rc, routine, sql);
    if (traced) odbc.TraceResult(sql, recnoParam);
    OpLog(routine, sql);
    return BindResult(1);
}

bool tODBCStatement::Prepare(const char* sql, const char* routine) {
    if (!odbc.IsConnected()) return false;
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(routine);
    lastFailure = 0;
    lastRc = 0;
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, routine);
    const SQLRETURN rc = GM_ODBC(odbc, SQLPrepare, handle, Text(sql), SQL_NTS);
    if (IsODBCFailure(rc)) return FailExecution(rc, routine, sql);
    lastRc = rc;
    if (traced) odbc.TraceEnd(sql);
    OpLog(routine, sql);
    opened = 1;
    return true;
}

bool tODBCStatement::StartPreparedRun(const char* operation, const char* routine, bool traced) {
    if (!odbc.IsConnected()) return false;
    if (!opened) {
        BasePrintf("tODBCStatement::%s ERROR : Cannot execute non-prepared Statement\n", operation);
        return false;
    }
    if (traced) odbc.TraceStart(routine);
    lastFailure = 0;
    lastRc = 0;
    return true;
}

bool tODBCStatement::ExecRecnoStmt(const char* sql, f64 recno, const char* routine) {
    const bool traced = odbc.IsTraced();
    if (!StartPreparedRun("ExecRecnoStmt", routine, traced)) return false;
    if (!BindRecnoParam(recno, routine, sql)) {
        Close();
        return false;
    }
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecute, handle);
    if (IsODBCFailure(rc)) return FailExecution(rc, routine, sql);
    lastRc = rc;
    ReportInfo(rc, routine, sql);
    bool result = true;
    if (bindColumns) {
        result = BindResult(1);
        if (result) bindColumns = 0;
    }
    if (result && traced) odbc.TraceRecno(sql, recno);
    OpLog(routine, sql);
    return result;
}

bool tODBCStatement::ExecSqlStmt(const char* routine) {
    const bool traced = odbc.IsTraced();
    if (!StartPreparedRun("ExecSqlStmt", routine, traced)) return false;
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecute, handle);
    if (IsODBCFailure(rc)) return FailExecution(rc, routine, kPreparedText);
    lastRc = rc;
    ReportInfo(rc, routine, kPreparedText);
    if (traced) odbc.TraceEnd(kPreparedText);
    OpLog(routine, kPreparedText);
    return true;
}

bool tODBCStatement::ReleasePreparedStmt() {
    const SQLRETURN rc = GM_ODBC(odbc, SQLFreeStmt, handle, SQL_CLOSE);
    if (IsODBCFailure(rc)) return FailExecution(rc, "ReleasePreparedStmt:SQL_CLOSE", nullptr);
    lastRc = rc;
    return true;
}
