// The c-treeSQL dialect of the ODBC connection: catalogue questions over systables, syscolumns
// and sysindexes, its DDL written in lower case, and column changes by rebuilding the whole table
// from a copy named <table>_bkp. Its statement and table file are CloudScape's under their own
// names, with CHR in place of CHAR.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/odbc.h"

class tActionField;

// The connection for the database type "CTREESQL". Tables have no schema prefix; several
// statements are lower-cased whole, names and literals included, before they run. Names that
// reach its SQL as names are checked as identifiers first; an operation given another name runs
// nothing and fails.
// Threads: used by its session's thread only.
class tCTreeSQLConnection : public tODBCConnection {
public:
    tCTreeSQLConnection(const char* dbType, const tString& alias, const tString& user,
                        const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tCTreeSQLConnection(const char* dbType, const tString& alias, const tString& user,
                        const tString& password, tODBCLibrary& library);

    // ---- Operations of tDBConnection.
    // The table (index null or empty), or an index of the table whose name matches without
    // regard to case; the catalogue is asked quietly.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // false
    tStatement* NewStatement() override;      // a tCTreeSQLStmt
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;                                // the table and its index
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    const char* GetOwner() override;                               // ""
    // A tCTreeSQLISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // The query's C and N columns as a read-only file owned by the caller; null when it does
    // not run or has no column (-19).
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    // Columns in the catalogue's order: lvarchar M 10, varchar and char C of their width,
    // float and the integer types N 15,6, any other type an X field with a console warning.
    bool DescribeTable(tTableDefinition& def) override;
    // Indexes from the rows of sysindexes, D_E_L_E_T_ left out of every key; the one on
    // R_E_C_N_O_ alone is only noted and, when missing, added as the primary key. An index over
    // a column the definition lacks is left out with a console warning.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    bool IsDuplicateKey(i32 native) override;                    // -17002
    bool IsRecnoKeyError(const tTableDefinition& def) override;  // "Key value already exists"
    bool ClearTable(const char* table) override;
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 without a row
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Copies the table into <table>_bkp, drops it, creates it from the change list (with
    // R_E_C_D_E_L_ when hasRecDel) and copies the kept columns back in record-number blocks. An
    // existing backup with more rows than the table is kept and the call fails (-19). A failure
    // stops at once: what ran stays done, possibly with the rows only in the backup.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    void DropIndex(tString& sql, const char* table, const char* index) override;
    bool IsMemoAsBlob() override;  // false

    GML_CLASS_ALLOCATOR(tCTreeSQLConnection, Mem_DBConnection)

private:
    std::unique_ptr<tODBCStatement> Statement();
    bool Run(const char* sql, const char* routine);
    bool HasIndex(const char* table, const char* index);
    void AddDescribedColumn(tTableDefinition& def, const char* name, const char* dataType,
                            f64 width);
    // The steps of AlterStructure.
    bool CopyToBackup(const char* table, f64& highest);
    bool CreateFromActions(const char* table, tArray<tActionField>& actions, u8 hasRecDel);
    bool CopyFromBackup(const char* table, tArray<tActionField>& actions, u8 hasRecDel,
                        f64 highest);
};

// An ODBC statement of a c-treeSQL connection.
class tCTreeSQLStmt : public tCloudScapeStmt {
public:
    explicit tCTreeSQLStmt(tODBCConnection* connection);  // not owned

    GML_CLASS_ALLOCATOR(tCTreeSQLStmt, Mem_DBStatement)
};

// A table of a c-treeSQL connection opened as an ISAM file: a single quote in a literal is
// written with CHR().
class tCTreeSQLISAMFile : public tCloudScapeISAMFile {
public:
    tCTreeSQLISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                      tCommBuffer& reply, u32 lockOwner);

    GML_CLASS_ALLOCATOR(tCTreeSQLISAMFile, Mem_IsamFile)
};
