// The ODBC entry points of the process: the driver manager (or a driver library that exports the
// ODBC functions itself) loaded by file name on the first ODBC connection, its functions resolved
// into one table, and the choice between the ODBC 3 and the ODBC 1 calls.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <atomic>

#include "lib_base/critsec.h"
#include "lib_base/stringz.h"
#include "platform/shared_library.h"

// One typed pointer per ODBC function that the drivers may call, named as the function; null
// where the library does not export the name. Only SQLAllocEnv and SQLConnect are sure to be
// there: a caller tests any other entry before calling it.
struct tODBCEntryPoints {
    decltype(&::SQLError) SQLError;
    decltype(&::SQLFreeConnect) SQLFreeConnect;
    decltype(&::SQLConnect) SQLConnect;
    decltype(&::SQLDriverConnect) SQLDriverConnect;
    decltype(&::SQLDisconnect) SQLDisconnect;
    decltype(&::SQLSetConnectOption) SQLSetConnectOption;
    decltype(&::SQLAllocEnv) SQLAllocEnv;
    decltype(&::SQLAllocConnect) SQLAllocConnect;
    decltype(&::SQLTransact) SQLTransact;
    decltype(&::SQLFreeEnv) SQLFreeEnv;
    decltype(&::SQLGetFunctions) SQLGetFunctions;
    decltype(&::SQLAllocStmt) SQLAllocStmt;
    decltype(&::SQLSetStmtOption) SQLSetStmtOption;
    decltype(&::SQLFreeStmt) SQLFreeStmt;
    decltype(&::SQLParamData) SQLParamData;
    decltype(&::SQLPrepare) SQLPrepare;
    decltype(&::SQLExecute) SQLExecute;
    decltype(&::SQLExecDirect) SQLExecDirect;
    decltype(&::SQLNumResultCols) SQLNumResultCols;
    decltype(&::SQLMoreResults) SQLMoreResults;
    decltype(&::SQLDescribeCol) SQLDescribeCol;
    decltype(&::SQLProcedureColumns) SQLProcedureColumns;
    decltype(&::SQLFetch) SQLFetch;
    decltype(&::SQLExtendedFetch) SQLExtendedFetch;
    decltype(&::SQLGetData) SQLGetData;
    decltype(&::SQLPutData) SQLPutData;
    decltype(&::SQLBindCol) SQLBindCol;
    decltype(&::SQLBindParameter) SQLBindParameter;
    decltype(&::SQLTables) SQLTables;
    decltype(&::SQLDrivers) SQLDrivers;
    decltype(&::SQLGetInfo) SQLGetInfo;
    decltype(&::SQLGetDiagRec) SQLGetDiagRec;
    decltype(&::SQLGetDiagField) SQLGetDiagField;
    decltype(&::SQLAllocHandle) SQLAllocHandle;
    decltype(&::SQLSetConnectAttr) SQLSetConnectAttr;
    decltype(&::SQLGetConnectAttr) SQLGetConnectAttr;
    decltype(&::SQLEndTran) SQLEndTran;
    decltype(&::SQLFreeHandle) SQLFreeHandle;
    decltype(&::SQLSetEnvAttr) SQLSetEnvAttr;
    decltype(&::SQLSetStmtAttr) SQLSetStmtAttr;
    decltype(&::SQLGetStmtAttr) SQLGetStmtAttr;
    decltype(&::SQLFetchScroll) SQLFetchScroll;
    decltype(&::SQLRowCount) SQLRowCount;
    decltype(&::SQLSetCursorName) SQLSetCursorName;
};

// The loader and what it bound. It is either not loaded (each Load reads the configuration and
// tries again) or loaded, which is final for the program: the library, the table and the ODBC
// mode then stay fixed, whatever later connections ask for. Only Unload, which tests call
// between cases, returns it to not loaded.
// Threads: Load is serialised by the loader lock. The table, the library and the mode are
// written only under it and only until loading succeeds; afterwards any thread reads them
// without a lock once IsLoaded (or Load) has answered true.
class tODBCLibrary {
public:
    // The file name that stands for the platform's ODBC driver manager, and what it maps to.
    static constexpr const char* kDefaultLibrary = "ODBC32.DLL";
    static constexpr const char* kDriverManagerFile = "libodbc.so.2";
    // The driver manager's installer library, held beside it (see Bind).
    static constexpr const char* kInstallerFile = "libodbcinst.so.2";

    tODBCLibrary() = default;
    tODBCLibrary(const tODBCLibrary&) = delete;
    tODBCLibrary& operator=(const tODBCLibrary&) = delete;

    // Binds the library named by the key ClientLibrary of the database type's section (empty:
    // the driver manager) unless already loaded; the type and the alias name the connection in
    // the log and console lines. Failures are logged; the answer is whether the library is
    // bound.
    bool Load(const char* dbType, const tString& alias);
    bool IsLoaded() const { return loaded.load(std::memory_order_acquire); }
    // Whether the ODBC 3 calls are used; meaningful once loaded.
    bool UseODBC3() const { return useODBC3; }
    const tODBCEntryPoints& Entries() const { return entries; }
    // Whether a library is held (a bound one, never one refused by the entry-point check).
    bool HoldsLibrary();
    // Back to not loaded: releases the library and clears the table, so that the next Load reads
    // the configuration afresh. Only while no connection calls through the table.
    void Unload();

private:
    void Bind(const char* dbType, const tString& alias);
    bool HasRequiredEntries(const char* dbType, const tString& alias);
    bool ChooseODBC3();

    tCriticalSection loaderLock;
    std::atomic<bool> loaded{false};
    // Written under loaderLock until loaded.
    bool useODBC3 = false;
    plat::SharedLibrary library;
    plat::SharedLibrary installer;  // held while the driver manager is; may stay closed
    tString libraryName;
    tODBCEntryPoints entries{};
};

// The process's one loader; it lives until the process ends and never releases its library.
tODBCLibrary& ODBCLibrary();
// The process's table of entry points (ODBCLibrary().Entries()).
const tODBCEntryPoints& ODBCEntryPoints();
// The process loader's Load: what every ODBC connection calls when it is made.
bool LoadODBCLibrary(const char* dbType, const tString& alias);
