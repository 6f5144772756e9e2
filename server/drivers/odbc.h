// The ODBC implementation of the database side's connection and statement: one environment and
// one connection per tODBCConnection, one statement handle per tODBCStatement, every ODBC call
// made through the process's bound entry points. Every ODBC-based driver derives from these two.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <type_traits>

#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc_entry.h"
#include "server/isam/dbconn.h"

// The descriptors' length indicators are bound directly as the driver's length/indicator.
static_assert(std::is_same<SQLLEN, i64>::value, "SQLLEN must be the 64-bit indicator type");

// Whether an ODBC return code means the call failed. SQL_SUCCESS_WITH_INFO is a success;
// SQL_NO_DATA (no row, nothing affected, no diagnostic) is none of the two.
inline bool IsODBCFailure(SQLRETURN rc) {
    return rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA;
}

// Calls the entry point fn of the connection's table: GM_ODBC(conn, SQLFetch, handle).
#define GM_ODBC(conn, fn, ...) (conn).CallEntry(&tODBCEntryPoints::fn, #fn, __VA_ARGS__)

class tODBCStatement;

// One ODBC environment and connection to the data source named by the environment alias,
// opened with the environment's user and password. Failures of ODBC calls end in HandleError,
// which records the database's diagnostic as the connection's last error (text, code and
// SQLSTATE) and decides whether the link is lost; nothing here reconnects.
// Threads: used by its session's thread only; the entry-point table is read without a lock.
class tODBCConnection : public tDBConnection {
public:
    // Binds the process's ODBC library (LoadODBCLibrary) and allocates the handles when it is
    // bound. Makes no contact with the database.
    tODBCConnection(const char* dbType, const tString& alias, const tString& user,
                    const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tODBCConnection(const char* dbType, const tString& alias, const tString& user,
                    const tString& password, tODBCLibrary& library);
    ~tODBCConnection() override;  // disconnects and frees the handles

    // ---- Operations of tDBConnection.
    bool Connect() override;
    void Disconnect() override;  // connected stays set when even a second disconnect fails
    // Reads the first diagnostic of the statement (null: of the connection), classifies it,
    // writes the last error text and code, logs it when report is set, traces it, and returns
    // the native code (0 when no diagnostic could be read). A warning leaves no error text.
    i32 HandleError(tStatement* stmt, const char* routine, const char* sql, i32 nativeRc,
                    u8 report) override;
    void* GetHandle() override { return dbc; }
    // The diagnostic as the last error, without classification, log or trace.
    i32 GetErrorText(tStatement* stmt) override;
    i16 StrCmtCtl() override;  // 0, or -13 when autocommit could not be switched off
    i16 EndCmtCtl() override;  // 0, or -13 when autocommit could not be switched on
    i16 Commit() override;     // 0 (also outside commit control), or -13
    i16 Rollback() override;   // 0 (also outside commit control), or -13
    bool InitialCheckUp(tString& report) override;
    i16 GetInfoString(u16 code, tString& out) override;  // the SQLGetInfo return code
    bool GetServerName(tString& out) override;           // appends; whether out is non-empty

    // ---- Added operations.
    virtual void SetIsolation();  // read-uncommitted, for the drivers that want it
    // Appends the statement's owner file's description to text (nothing without one).
    void ForwardErrorText(tStatement* stmt, tString& text);

    // ---- ODBC state for the statements and the drivers.
    // Calls one entry point. One that the library lacks is logged and answers SQL_ERROR.
    template <class Fn, class... Args>
    SQLRETURN CallEntry(Fn tODBCEntryPoints::*entry, const char* name, Args... args) {
        const Fn fn = entries.*entry;
        if (!fn) return MissingEntry(name);
        return fn(args...);
    }
    bool UseODBC3() const { return odbc3; }
    bool IsLibraryLoaded() const { return loaded; }
    SQLHENV GetEnvHandle() const { return env; }
    i32 GetLastReturnCode() const { return lastRc; }
    const char* GetDriverName() const { return driverName; }
    // The SQLSTATE of the diagnostic that HandleError or GetErrorText last read ("" before).
    const char* GetSqlState() const { return sqlState; }

    GML_CLASS_ALLOCATOR(tODBCConnection, Mem_ODBCConn)

private:
    struct tDiagnostic;

    void AllocateHandles();
    void FreeHandles();
    SQLRETURN MissingEntry(const char* name);
    // Whether rc is a success; a failure goes to HandleError under the routine's name.
    bool Check(SQLRETURN rc, const char* routine);
    SQLRETURN SetAutocommit(SQLULEN on);
    SQLRETURN EndTransaction(SQLSMALLINT completion);
    i16 CompleteTransaction(SQLSMALLINT completion, const char* routine);
    SQLRETURN ReadDiagnostic(tStatement* stmt, tDiagnostic& diag);
    bool IsWarning(const tDiagnostic& diag, i32 nativeRc);
    // Appends the routine, the session's state, the statement text and the file's description.
    void AppendErrorContext(tStatement* stmt, const char* routine, const char* sql);
    void TraceError(const char* routine);
    // SQLGetInfo into the buffer (zeroed first); the text's length, 0 when the call failed.
    SQLSMALLINT ReadInfo(SQLUSMALLINT type, char* buffer, SQLSMALLINT size);

    // Constant after construction.
    const tODBCEntryPoints& entries;
    bool loaded = false;
    bool odbc3 = false;
    // The session's thread only.
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    i32 lastRc = 0;  // of the last ODBC call on the connection
    char driverName[256] = {};
    char sqlState[6] = {};
};

// One ODBC statement handle on a tODBCConnection, and after a query its bound result columns:
// character columns point into one row buffer, numbers are bound in place as doubles, other
// types are left out. Every execution opens a fresh handle; every error path closes it, which
// also ends a prepared statement. Made by the drivers and owned by whoever asked for it; used by
// its connection's thread only.
class tODBCStatement : public tStatement {
public:
    explicit tODBCStatement(tODBCConnection* connection);  // not owned
    ~tODBCStatement() override;                            // closes the handle

    // ---- Operations of tStatement.
    void* GetHandle() override { return handle; }
    // A fresh handle (the one held is closed); scanEscapes 0 turns escape scanning off.
    void Open(u8 scanEscapes) override;
    void Close() override;
    bool Prepare(const char* sql, const char* routine) override;
    // Runs the prepared statement with the record number as its one parameter. The first run
    // binds the result columns; later runs (after ReleasePreparedStmt) reuse them.
    bool ExecRecnoStmt(const char* sql, f64 recno, const char* routine) override;
    bool ExecSqlStmt(const char* routine) override;  // binds no result columns
    bool ReleasePreparedStmt() override;             // closes the cursor, keeps the rest
    // Runs the text; a query's columns are bound. With report 0 a failure is not logged (the
    // error text is still set). On a read-only connection only a single query runs.
    bool ExecDirect(const char* sql, const char* routine, u8 report) override;
    // Prepares and runs a text with one parameter marker, bound to the record number.
    bool ExecWithRecno(const char* sql, f64 recno, const char* routine) override;
    bool BindResult(u8 isQuery) override;
    // Runs a query whose first column is one long value and reads it as by GetData. The
    // statement handle stays open.
    bool GetBlob(const char* sql, void* buffer, i32& length) override;
    bool BindCols(i16 count) override;
    bool Fetch() override;  // the next row: false at the end and on a failure

    // ---- Added operations.
    // Reads the column's value as bytes into buffer; length is the capacity on entry and the
    // value's length on return, counting the terminating 0 written after a value that does not
    // end in one. At most capacity - 1 bytes are read; a longer value is cut there and
    // IsDataTruncated answers true. NULL, empty and no data give length 0.
    virtual bool GetData(u16 column, void* buffer, i32& length);

    bool IsDataTruncated() const { return dataTruncated; }  // of the last GetData
    i32 GetLastReturnCode() const { return lastRc; }

    GML_CLASS_ALLOCATOR(tODBCStatement, Mem_DBStatement)

protected:
    // Whether rc is a success; a failure goes to HandleError (reported), and its native code
    // becomes the last failure code.
    bool Check(SQLRETURN rc, const char* routine, const char* sql);
    // A success with information is reported as a warning through HandleError.
    void ReportInfo(SQLRETURN rc, const char* routine, const char* sql);
    // The session's record of the statement it runs now, when the process keeps it.
    void NoteStatement(const char* sql, const char* routine);
    void OpLog(const char* routine, const char* sql);

    tODBCConnection& odbc;  // the connection given to the constructor
    SQLHSTMT handle = SQL_NULL_HSTMT;
    i32 lastRc = 0;  // of the last ODBC call on this statement

private:
    bool FailExecution(SQLRETURN rc, const char* routine, const char* sql);
    bool BindRecnoParam(f64 recno, const char* routine, const char* sql);
    bool DescribeColumns(i16 count, i32& total);
    bool BindDescribed(i16 count);
    bool IsRefusedWithoutConnection(const char* routine);
    bool IsRefusedAsReadOnly(const char* sql, bool isQuery, const char* routine);
    // False, with the console line naming the operation, when nothing is prepared.
    bool StartPreparedRun(const char* operation, const char* routine, bool traced);

    char recnoText[kRecnoTextSize] = {};   // where a record number is formatted
    char recnoParam[kRecnoTextSize] = {};  // the bound record number; read at execution
    SQLLEN recnoParamLength = 0;
    bool recnoBound = false;    // recnoParam is bound as parameter 1 of the prepared statement
    bool columnsBound = false;  // this handle has result columns bound
    bool dataTruncated = false;
};
