// The ODBC implementation of the database side's connection and statement: one environment and
// one connection per tODBCConnection, one statement handle per tODBCStatement, every ODBC call
// made through the process's bound entry points. Every ODBC-based driver derives from these two.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

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

// Whether a column or parameter of this SQL type holds a number, which every driver carries
// as a double.
inline bool IsNumberSqlType(SQLSMALLINT sqlType) {
    switch (sqlType) {
        case SQL_TINYINT:
        case SQL_BIGINT:
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
            return true;
        default:
            return false;
    }
}

// Calls the entry point fn of the connection's table: GM_ODBC(conn, SQLFetch, handle).
#define GM_ODBC(conn, fn, ...) (conn).CallEntry(&tODBCEntryPoints::fn, #fn, __VA_ARGS__)

class tDATAField;
class tODBCStatement;
// Year, month and day of today.
struct tToday {
    i32 year;
    i32 month;
    i32 day;
};
class tTableDefinitionExclusive;

// One parameter of a stored procedure as a row of the ODBC procedure-column catalogue describes
// it, with what its bind needs: the direction (1 input, 2 input/output, 4 output), the value kind
// ('C' text, 'I' integer, 'N' number, 0 none), the SQL and C types, the size and, for outputs,
// the buffer length. Sizes are held within 0..32766, so an output text of size + 1 bytes fits a
// 16-bit length. Owned by the statement that binds it; one thread.
class tODBCParam {
public:
    // The three numbers are the catalogue's COLUMN_TYPE, DATA_TYPE and BUFFER_LENGTH. An empty
    // name becomes "Result"; an unknown direction is decided by the name ("IN_..." an input).
    tODBCParam(const char* name, f64 columnType, f64 dataType, f64 bufferLength);
    virtual ~tODBCParam() = default;
    tODBCParam(const tODBCParam&) = delete;
    tODBCParam& operator=(const tODBCParam&) = delete;

    const char* GetName() const { return name.GetText(); }
    i16 GetIOType() const { return direction; }
    u8 GetTypeLetter() const { return letter; }
    i16 GetSQLType() const { return sqlType; }
    i32 GetSize() const { return size; }
    i32 GetOutLength() const { return outLength; }
    i16 GetCType() const { return cType; }
    bool IsReturnValue() const { return returnValue; }
    bool IsOutput() const {
        return direction == SQL_PARAM_OUTPUT || direction == SQL_PARAM_INPUT_OUTPUT;
    }
    void SetSize(i32 n);  // the size and the length indicator, held within 0..32766
    // Bound as the parameter's length/indicator; the driver writes an output's length into it.
    SQLLEN* GetIndicator() { return &indicator; }

private:
    tString name;
    i16 direction;
    u8 letter = 0;
    i16 sqlType;
    i32 size;
    i32 outLength = 0;
    i16 cType = 0;
    bool returnValue = false;
    SQLLEN indicator = 0;
};

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
    // After a write that answered SQL_SUCCESS_WITH_INFO: reports the diagnostic as HandleError
    // does and answers whether it says a value was cut on its way (SQLSTATE 01004 or 22001).
    // Such a warning stays as the last error, for the write did not store what it was given.
    bool HandleWriteWarning(tStatement* stmt, const char* routine, const char* sql, i32& native);
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
    // HandleError's work on a diagnostic read (diagRc its reading's result); asError keeps it
    // as an error whatever its class.
    i32 ReportDiagnostic(SQLRETURN diagRc, const tDiagnostic& diag, tStatement* stmt,
                         const char* routine, const char* sql, i32 nativeRc, u8 report,
                         bool asError);
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
    // Binds the values by their type letters to the prepared statement and runs it; a query's
    // columns are bound on the first run. The statement owns the values from here until the next
    // BindParam with other values or Close; null runs again with those bound before. A value
    // that cannot be bound (a date that is no date, 'R', an 'X' that names no type) is refused
    // with -19 and the reason as the connection's last error, and nothing runs.
    bool BindParam(std::unique_ptr<tAutoArray<tDATAField>> values) override;
    // Runs sql with data (length bytes) as its one parameter: kind 10 long binary, 11 long text;
    // any other kind is an assertion. The handle stays open.
    bool ExecParam(const char* sql, const void* data, i32 length, i16 kind) override;
    // Calls the procedure with the parameters that the catalogue lists for it: inputs are taken
    // in order, and each output parameter gets a new value field appended to outputs (the
    // caller's). 0, or -21 with the reason in the connection's last error; 0 without calling
    // anything when the catalogue lists no columns. The statement stays open.
    i16 SPExec(const char* name, const char* owner, tArray<tDATAField>& inputs,
               tArray<tDATAField>& outputs) override;

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
    // Reads the column's bytes into buffer: at most length - 1 of them, then a terminator;
    // length becomes the number of bytes read (0 for NULL, empty or no data). A longer value is
    // cut and marked (dataTruncated). A failure is reported under the routine's name.
    // As character data (SQL_C_CHAR), the driver writes the terminator itself.
    bool ReadBytes(u16 column, void* buffer, i32& length, const char* routine,
                   SQLSMALLINT cType = SQL_C_BINARY);
    // Prepares sql and runs it with the length bytes of data as its one parameter, bound as
    // SQL_C_CHAR to SQL_CHAR of that size. A run that ends with a warning counts as failed; one
    // that matched no row answers false without an error. The handle stays open, without the
    // parameter.
    bool ExecCharParam(const char* sql, const void* data, i32 length, const char* routine);
    // Whether rc is a success; a failure goes to HandleError (reported), and its native code
    // becomes the last failure code.
    bool Check(SQLRETURN rc, const char* routine, const char* sql);
    // A success with information is reported as a warning through HandleError.
    void ReportInfo(SQLRETURN rc, const char* routine, const char* sql);
    // The same after a call that writes a value: false, with the handle closed, when the
    // warning says the value was cut.
    bool AcceptWriteInfo(SQLRETURN rc, const char* routine, const char* sql);
    // A long value's statement that matched no row: false, with that as the last error.
    bool FailNoRow(const char* routine, const char* sql);
    // The procedure's parameters in catalogue order, its return value left out (returnSeen
    // tells whether it was listed), into params; false when the catalogue could not be read.
    // owner null: no schema. listed: the catalogue gave a result with columns. listRoutine
    // names the routine in the error of a failed catalogue call.
    bool ReadProcedureColumns(const char* name, const char* owner, tAutoArray<tODBCParam>& params,
                              bool& listed, bool& returnSeen, const char* listRoutine);
    // Keeps the parameters that the handle's bindings point into until Close.
    void KeepProcedureParams(std::unique_ptr<tAutoArray<tODBCParam>> params) {
        procParams = std::move(params);
    }
    // The session's record of the statement it runs now, when the process keeps it.
    void NoteStatement(const char* sql, const char* routine);
    void OpLog(const char* routine, const char* sql);

    tODBCConnection& odbc;  // the connection given to the constructor
    SQLHSTMT handle = SQL_NULL_HSTMT;
    i32 lastRc = 0;              // of the last ODBC call on this statement
    bool dataTruncated = false;  // the last GetData cut its value

private:
    bool FailExecution(SQLRETURN rc, const char* routine, const char* sql);
    bool BindRecnoParam(f64 recno, const char* routine, const char* sql);
    bool DescribeColumns(i16 count, i32& total);
    bool BindDescribed(i16 count);
    bool IsRefusedWithoutConnection(const char* routine);
    bool IsRefusedAsReadOnly(const char* sql, bool isQuery, const char* routine);
    // False, with the console line naming the operation, when nothing is prepared.
    bool StartPreparedRun(const char* operation, const char* routine, bool traced);
    // Parameters (odbc_params.cpp).
    bool BindValues(tAutoArray<tDATAField>& values);
    bool BindValue(tDATAField& value, SQLUSMALLINT number, SQLLEN& indicator);
    tToday DatabaseToday();  // the date part of a bound date-time
    bool RefuseValue(SQLUSMALLINT number, const char* reason, const char* text);
    i16 BindProcedureParams(tAutoArray<tODBCParam>& params, tArray<tDATAField>& inputs,
                            tArray<tDATAField>& outputs, tString& callText);

    char recnoText[kRecnoTextSize] = {};   // where a record number is formatted
    char recnoParam[kRecnoTextSize] = {};  // the bound record number; read at execution
    SQLLEN recnoParamLength = 0;
    bool recnoBound = false;    // recnoParam is bound as parameter 1 of the prepared statement
    bool columnsBound = false;  // this handle has result columns bound
    // What bound parameters point into; released by Close after the handle, and replaced (the
    // handle's parameters reset first) by the next BindParam with other values.
    std::unique_ptr<tAutoArray<tDATAField>> boundValues;
    std::vector<SQLLEN> boundIndicators;  // one per bound value, sized before any bind
    std::unique_ptr<tAutoArray<tODBCParam>> procParams;
    SQLLEN execParamLength = 0;  // ExecParam's indicator
};
