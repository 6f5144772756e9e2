// The generic ODBC connection: SQL statements, procedure calls and client queries on any ODBC
// data source for which no dialect exists. It has no catalogue reads, no DDL and no table files
// of its own, and its sessions never open tables.
#pragma once
#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"

// The connection for the database type "ODBC". Table use and the read-only mode are off
// whatever the configuration says: the dispatcher refuses to open tables, and writes run.
// Threads: used by its session's thread only.
class tGenericConnection : public tODBCConnection {
public:
    tGenericConnection(const char* dbType, const tString& alias, const tString& user,
                       const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tGenericConnection(const char* dbType, const tString& alias, const tString& user,
                       const tString& password, tODBCLibrary& library);

    // ---- Operations of tDBConnection. Every catalogue question answers false.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;
    tStatement* NewStatement() override;  // a tODBCStatement
    // The query's C and N columns as a read-only file owned by the caller; null when it does
    // not run or has no column (-19).
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    bool DescribeTable(tTableDefinition& def) override;
    bool DescribeIndexes(tTableDefinition& def) override;
    bool IsMemoAsBlob() override;

    GML_CLASS_ALLOCATOR(tGenericConnection, Mem_DBConnection)

private:
    void SwitchTablesOff();
};
