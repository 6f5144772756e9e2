// The ODBC connection: its handles, connecting and disconnecting, commit control, the
// diagnostics of a failed call turned into the connection's last error, and the information
// queries of the check-up, and the description of a client query's result.
#include <strings.h>

#include <cstring>
#include <memory>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"
#include "server/isam/gatemill_query.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

namespace {

constexpr i32 kNoNativeCode = -19;  // the last error code when the database gave none
constexpr SQLSMALLINT kMessageSize = 512;

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

bool IsType(const char* dbType, const char* name) { return strcasecmp(dbType, name) == 0; }

// The information lines of the check-up, in the order they are printed.
const struct {
    SQLUSMALLINT type;
    const char* label;
} kCheckUpInfo[] = {
    {SQL_DBMS_NAME, "ODBC DBMS Name..............: "},
    {SQL_DBMS_VER, "ODBC DBMS Version...........: "},
    {SQL_DATABASE_NAME, "ODBC DBMS Database Name.....: "},
    {SQL_DATA_SOURCE_NAME, "ODBC Data Source Name.......: "},
    {SQL_SERVER_NAME, "ODBC Server Name............: "},
    {SQL_DRIVER_NAME, "ODBC Driver Name............: "},
    {SQL_DRIVER_VER, "ODBC Driver Version ........: "},
    {SQL_DRIVER_ODBC_VER, "ODBC Support ODBC Version...: "},
};

}  // namespace

// The first diagnostic record of a failed call.
struct tODBCConnection::tDiagnostic {
    char state[6] = {};
    SQLINTEGER native = 0;
    char message[kMessageSize] = {};
    SQLSMALLINT length = 0;
};

tODBCConnection::tODBCConnection(const char* dbType, const tString& alias, const tString& user,
                                 const tString& password)
    : tODBCConnection(dbType, alias, user, password, ODBCLibrary()) {}

tODBCConnection::tODBCConnection(const char* dbType, const tString& alias, const tString& user,
                                 const tString& password, tODBCLibrary& library)
    : tDBConnection(dbType, alias, user, password), entries(library.Entries()) {
    loaded = library.Load(dbType, alias);
    if (!loaded) return;
    odbc3 = library.UseODBC3();
    AllocateHandles();
}

tODBCConnection::~tODBCConnection() {
    Disconnect();
    FreeHandles();
}

// Failures after the environment are reported here and again by Connect, which cannot work
// without the connection handle.
void tODBCConnection::AllocateHandles() {
    const char* routine = "tODBCConnection::tODBCConnection";
    if (odbc3) {
        if (!Check(GM_ODBC(*this, SQLAllocHandle, SQL_HANDLE_ENV, SQLHANDLE{}, &env), routine)) {
            return;
        }
        Check(GM_ODBC(*this, SQLSetEnvAttr, env, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              routine);
        if (!Check(GM_ODBC(*this, SQLAllocHandle, SQL_HANDLE_DBC, env, &dbc), routine)) return;
        Check(GM_ODBC(*this, SQLSetConnectAttr, dbc, SQL_ATTR_ODBC_CURSORS,
                      reinterpret_cast<SQLPOINTER>(SQL_CUR_USE_DRIVER), SQL_IS_INTEGER),
              routine);
        Check(GM_ODBC(*this, SQLSetConnectAttr, dbc, SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_INTEGER),
              routine);
        return;
    }
    if (!Check(GM_ODBC(*this, SQLAllocEnv, &env), routine)) return;
    if (!Check(GM_ODBC(*this, SQLAllocConnect, env, &dbc), routine)) return;
    Check(GM_ODBC(*this, SQLSetConnectOption, dbc, SQL_ODBC_CURSORS, SQL_CUR_USE_DRIVER), routine);
    Check(GM_ODBC(*this, SQLSetConnectOption, dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), routine);
}

void tODBCConnection::FreeHandles() {
    const char* routine = "tODBCConnection::~tODBCConnection";
    if (dbc != SQL_NULL_HDBC) {
        Check(odbc3 ? GM_ODBC(*this, SQLFreeHandle, SQL_HANDLE_DBC, dbc)
                    : GM_ODBC(*this, SQLFreeConnect, dbc),
              routine);
        dbc = SQL_NULL_HDBC;
    }
    if (env != SQL_NULL_HENV) {
        Check(odbc3 ? GM_ODBC(*this, SQLFreeHandle, SQL_HANDLE_ENV, env)
                    : GM_ODBC(*this, SQLFreeEnv, env),
              routine);
        env = SQL_NULL_HENV;
    }
}

SQLRETURN tODBCConnection::MissingEntry(const char* name) {
    tString text;
    text.sprintf("[ERROR] %s NOT FOUND - The client library of [%s/%s] lacks this ODBC function.",
                 name, GetDBType(), GetAlias().GetText());
    WriteLog(text, 0);
    return SQL_ERROR;
}

bool tODBCConnection::Check(SQLRETURN rc, const char* routine) {
    lastRc = rc;
    if (!IsODBCFailure(rc)) return true;
    HandleError(nullptr, routine, nullptr, rc, 1);
    return false;
}

bool tODBCConnection::Connect() {
    if (!loaded) return false;
    const SQLRETURN rc = GM_ODBC(*this, SQLConnect, dbc, Text(alias), SQL_NTS, Text(user), SQL_NTS,
                                 Text(password), SQL_NTS);
    lastRc = rc;
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        HandleError(nullptr, "tODBCConnection::Connect", nullptr, rc, 1);
        connected = 0;
        return false;
    }
    connected = 1;
    std::memset(driverName, 0, sizeof driverName);
    ReadInfo(SQL_DRIVER_NAME, driverName, sizeof driverName);
    return true;
}

void tODBCConnection::Disconnect() {
    if (!connected) return;
    SQLRETURN rc = GM_ODBC(*this, SQLDisconnect, dbc);
    lastRc = rc;
    if (rc == SQL_ERROR) {
        // Typically a transaction still open: end it, then try once more.
        EndTransaction(SQL_ROLLBACK);
        rc = GM_ODBC(*this, SQLDisconnect, dbc);
        if (!Check(rc, "tODBCConnection::Disconnect")) return;
    }
    connected = 0;
}

void tODBCConnection::SetIsolation() {
    Check(GM_ODBC(*this, SQLSetConnectOption, dbc, SQL_TXN_ISOLATION, SQL_TXN_READ_UNCOMMITTED),
          "tODBCConnection::SetIsolation");
}

SQLRETURN tODBCConnection::SetAutocommit(SQLULEN on) {
    if (odbc3) {
        return GM_ODBC(*this, SQLSetConnectAttr, dbc, SQL_ATTR_AUTOCOMMIT,
                       reinterpret_cast<SQLPOINTER>(on), 0);
    }
    return GM_ODBC(*this, SQLSetConnectOption, dbc, SQL_AUTOCOMMIT, on);
}

SQLRETURN tODBCConnection::EndTransaction(SQLSMALLINT completion) {
    if (odbc3) return GM_ODBC(*this, SQLEndTran, SQL_HANDLE_DBC, dbc, completion);
    return GM_ODBC(*this, SQLTransact, env, dbc, static_cast<SQLUSMALLINT>(completion));
}

i16 tODBCConnection::StrCmtCtl() {
    if (commitControl) return 0;
    if (!Check(SetAutocommit(SQL_AUTOCOMMIT_OFF), "tODBCConnection::StrCmtCtl")) {
        return RC_NOT_SUPPORTED;
    }
    commitControl = 1;
    return 0;
}

i16 tODBCConnection::EndCmtCtl() {
    if (!commitControl) return 0;
    if (!Check(SetAutocommit(SQL_AUTOCOMMIT_ON), "tODBCConnection::EndCmtCtl")) {
        return RC_NOT_SUPPORTED;
    }
    commitControl = 0;
    return 0;
}

i16 tODBCConnection::CompleteTransaction(SQLSMALLINT completion, const char* routine) {
    if (!commitControl) return 0;
    return Check(EndTransaction(completion), routine) ? 0 : RC_NOT_SUPPORTED;
}

i16 tODBCConnection::Commit() { return CompleteTransaction(SQL_COMMIT, "tODBCConnection::Commit"); }

i16 tODBCConnection::Rollback() {
    tDBConnection::Rollback();  // the audit sequence advances whatever the database answers
    return CompleteTransaction(SQL_ROLLBACK, "tODBCConnection::Rollback");
}

// The first diagnostic of the statement, else of the connection, else of the environment; the
// answer is the diagnostic call's own code. A message too long for the buffer is cut.
SQLRETURN tODBCConnection::ReadDiagnostic(tStatement* stmt, tDiagnostic& diag) {
    SQLHSTMT hstmt = stmt ? static_cast<SQLHSTMT>(stmt->GetHandle()) : SQL_NULL_HSTMT;
    SQLRETURN rc = SQL_NO_DATA;
    auto succeeded = [&rc] { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; };
    auto read = [&](SQLSMALLINT type, SQLHANDLE h) {
        diag = tDiagnostic{};
        diag.length = kMessageSize;
        rc = GM_ODBC(*this, SQLGetDiagRec, type, h, 1, Text(diag.state), &diag.native,
                     Text(diag.message), kMessageSize, &diag.length);
    };
    if (odbc3) {
        if (hstmt != SQL_NULL_HSTMT) read(SQL_HANDLE_STMT, hstmt);
        if (!succeeded()) read(SQL_HANDLE_DBC, dbc);
        if (!succeeded()) read(SQL_HANDLE_ENV, env);
    } else {
        diag.length = kMessageSize;
        rc = GM_ODBC(*this, SQLError, env, dbc, hstmt, Text(diag.state), &diag.native,
                     Text(diag.message), kMessageSize - 1, &diag.length);
    }
    diag.state[sizeof diag.state - 1] = '\0';
    diag.message[kMessageSize - 1] = '\0';
    return succeeded() ? SQL_SUCCESS : rc;
}

bool tODBCConnection::IsWarning(const tDiagnostic& diag, i32 nativeRc) {
    const char* type = GetDBType();
    if (IsType(type, "DB2") && (diag.native == 598 || diag.native == 437 || diag.native == 513)) {
        return true;
    }
    if (strcasecmp(diag.state, "01000") == 0) return true;
    if (IsType(type, "POSTGRES") && diag.native == -1 &&
        (strcasecmp(diag.state, "0000") == 0 || strcasecmp(diag.state, "00000") == 0)) {
        return true;
    }
    const bool lost = strncasecmp(diag.state, "08", 2) == 0 ||
                      (IsType(type, "DB2") && diag.native == -30081) ||
                      (IsType(type, "MYSQL") && diag.native == 1153);
    if (lost) {
        linkLost = 1;
        return false;
    }
    return nativeRc == SQL_SUCCESS_WITH_INFO;
}

void tODBCConnection::AppendErrorContext(tStatement* stmt, const char* routine, const char* sql) {
    if (routine) {
        lastError += " ( From ";
        lastError += routine;
        lastError += " )\n";
    }
    AddServerInfo(lastError);
    if (sql) lastError += sql;
    if (stmt) ForwardErrorText(stmt, lastError);
}

void tODBCConnection::TraceError(const char* routine) {
    if (IsTraced()) dbServer->Trace(routine ? routine : "", 0.0, lastError);
}

i32 tODBCConnection::HandleError(tStatement* stmt, const char* routine, const char* sql,
                                 i32 nativeRc, u8 report) {
    tDiagnostic diag;
    const SQLRETURN diagRc = ReadDiagnostic(stmt, diag);
    return ReportDiagnostic(diagRc, diag, stmt, routine, sql, nativeRc, report, false);
}

bool tODBCConnection::HandleWriteWarning(tStatement* stmt, const char* routine, const char* sql,
                                         i32& native) {
    tDiagnostic diag;
    const SQLRETURN diagRc = ReadDiagnostic(stmt, diag);
    const bool cut = diagRc == SQL_SUCCESS && (std::strcmp(diag.state, "01004") == 0 ||
                                               std::strcmp(diag.state, "22001") == 0);
    native = ReportDiagnostic(diagRc, diag, stmt, routine, sql, SQL_SUCCESS_WITH_INFO, 1, cut);
    return cut;
}

i32 tODBCConnection::ReportDiagnostic(SQLRETURN diagRc, const tDiagnostic& diag, tStatement* stmt,
                                      const char* routine, const char* sql, i32 nativeRc, u8 report,
                                      bool asError) {
    if (diagRc != SQL_SUCCESS) {
        lastError.sprintf("Recovery Error Code %i (RC=%i)", diagRc, nativeRc);
        AppendErrorContext(stmt, routine, sql);
        WriteLog(lastError, 0);  // whatever report says: nothing else tells what happened
        TraceError(routine);
        return 0;
    }
    const bool warning = !asError && IsWarning(diag, nativeRc);
    lastError.sprintf(warning ? "Warning : %i (%s) (RC=%i) - " : "Error : %i (%s) (RC=%i) - ",
                      diag.native, diag.state, nativeRc);
    lastErrorCode = diag.native ? diag.native : kNoNativeCode;
    std::memcpy(sqlState, diag.state, sizeof sqlState);
    lastError += diag.message;
    AppendErrorContext(stmt, routine, sql);
    if (report) WriteLog(lastError, 0);
    TraceError(routine);
    if (warning) lastError.Clear();  // logged and traced: a warning is no error
    return diag.native;
}

i32 tODBCConnection::GetErrorText(tStatement* stmt) {
    tDiagnostic diag;
    const SQLRETURN diagRc = ReadDiagnostic(stmt, diag);
    if (diagRc != SQL_SUCCESS) {
        const auto* odbcStmt = dynamic_cast<tODBCStatement*>(stmt);
        lastError.sprintf("Recovery Error Code %i (RC=%i)", diagRc,
                          odbcStmt ? odbcStmt->GetLastReturnCode() : lastRc);
        return 0;
    }
    lastError.sprintf("Error : %i (%s) - ", diag.native, diag.state);
    lastError += diag.message;
    lastErrorCode = diag.native ? diag.native : kNoNativeCode;
    std::memcpy(sqlState, diag.state, sizeof sqlState);
    return diag.native;
}

void tODBCConnection::ForwardErrorText(tStatement* stmt, tString& text) {
    if (stmt && stmt->GetOwnerFile()) stmt->GetOwnerFile()->DumpInfo(text);
}

SQLSMALLINT tODBCConnection::ReadInfo(SQLUSMALLINT type, char* buffer, SQLSMALLINT size) {
    std::memset(buffer, 0, static_cast<size_t>(size));
    SQLSMALLINT length = 0;
    lastRc = GM_ODBC(*this, SQLGetInfo, dbc, type, buffer, size - 1, &length);
    if (IsODBCFailure(lastRc) || length <= 0) return 0;
    return length;
}

bool tODBCConnection::InitialCheckUp(tString& report) {
    if (!connected) {
        const char* warning = "[WARNING] tODBCConnection::InitialCheckUp() NOT CONNECTED\n";
        BasePrintf("%s", warning);
        report += warning;
        return false;
    }
    report += "--------------- ODBC Connection Check-Up ------------------\n";
    report += "ODBC Mapped Functions ......: ";
    report += odbc3 ? "3.0" : "1.0";
    report += "\n";
    for (const auto& info : kCheckUpInfo) {
        char value[1024];
        if (ReadInfo(info.type, value, 257) == 0) continue;
        report += info.label;
        report += value;
        report += "\n";
    }
    report += "-----------------------------------------------------------\n\n";
    return tDBConnection::InitialCheckUp(report);
}

i16 tODBCConnection::GetInfoString(u16 code, tString& out) {
    char value[260];
    const SQLSMALLINT length = ReadInfo(code, value, 257);
    if (lastRc == SQL_ERROR) {
        GetErrorText(nullptr);
    } else if (length > 0) {
        out = value;
    }
    return static_cast<i16>(lastRc);
}

bool tODBCConnection::GetServerName(tString& out) {
    char value[1024];
    if (ReadInfo(SQL_SERVER_NAME, value, 257) > 0) out += value;
    return out.GetLength() > 0;
}
