// The DB2 dialect of the ODBC connection: the DBMS version and the application id that keys
// the session's GML_PARAM rows, catalogue questions over SYSCAT and SYSIBM, the DDL of tables
// with their storage clauses from the configuration, column changes in place (followed by a
// REORG) or through a copy named <table>_BKP, and its table file, whose key cursors stop early
// with FETCH FIRST and whose literals and filter functions are written in DB2 SQL.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"

class tActionField;
class tField;
class tFilterElement;

// The connection for the database type "DB2". Tables live in the schema of the user (the owner
// "<USER>."). Catalogue statements are upper-cased whole before they run; names and values
// inside their literals are quoted. Table names that reach DDL as names are checked as
// identifiers first; an operation given another name runs nothing and fails.
// Threads: used by its session's thread only.
class tDB2Connection : public tODBCConnection {
public:
    tDB2Connection(const char* dbType, const tString& alias, const tString& user,
                   const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tDB2Connection(const char* dbType, const tString& alias, const tString& user,
                   const tString& password, tODBCLibrary& library);
    // Deletes the session's GML_PARAM rows (quietly) when connected with ISAM use, then
    // disconnects.
    ~tDB2Connection() override;

    // ---- Operations of tDBConnection.
    // The ODBC connect, the isolation, the DBMS version and the application id. Without an
    // application id the connection is closed again and the connect fails.
    bool Connect() override;
    // The table (index null or empty), or the index in the user's schema; asked quietly.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // a routine of the user's schema; quietly
    tStatement* NewStatement() override;      // a plain tODBCStatement
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;  // the table in the configured spaces, and its index
    // The session's row of GML_PARAM, updated or inserted; values go in as literals.
    bool SetParam(const char* name, const char* value) override;
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    // Creates the unique index <table>_PK on R_E_C_N_O_ (its outcome not looked at) and writes
    // AddPrimaryKey's text for the caller to run.
    void GetRecnoIndex(const char* table, tString& sql) override;
    const char* GetOwner() override;  // "<USER>."
    // A tDB2ISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // The query's C and N columns as a read-only file owned by the caller; null when it does
    // not run or has no column (-19).
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    // The prepared text as a query file owned by the caller; null when it cannot be prepared.
    tQueryFile* PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) override;
    // Columns in column order: VARCHAR C of its length, LONG VARCHAR and BLOB M 10, CLOB M 11,
    // DOUBLE and INTEGER N 15,6, any other type an X field with a console warning. False when
    // the catalogue knows no column of the table.
    bool DescribeTable(tTableDefinition& def) override;
    // Indexes with their key columns (SYSCAT.INDEXCOLUSE from version 9.01, COLNAMES below),
    // D_E_L_E_T_ left out of every key. The one on R_E_C_N_O_ alone is only noted (its IID kept
    // in the definition) and, when missing, created with the primary key. An index whose key
    // names no field of the definition is left out with a console warning.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    bool IsDuplicateKey(i32 native) override;                    // -803
    bool IsRecnoKeyError(const tTableDefinition& def) override;  // the error names its IID
    bool ClearTable(const char* table) override;
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 on failure
    // Adds, drops and widens columns in place and reorganises the table; a change DB2 cannot
    // make in place, or a failed ALTER, goes to AlterStructure.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Moves the table to <table>_BKP, creates it from the change list (with R_E_C_D_E_L_ when
    // hasRecDel) and copies the kept columns back in record-number blocks. An existing backup
    // with more rows than the table is kept and the call fails (-19). A failure stops at once:
    // what ran stays done, possibly with the rows only in the backup.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    void IndexSpaceClause(tString& sql, u8 flag) override;  // " ALLOW REVERSE SCANS"
    bool RecnoAcceptNull(const char* table) override;
    void GetSessionID(tString& text) override;  // appends "(DB2ID: <application id>) "
    bool IsMemoAsBlob() override;               // true

    // ---- Its own.
    // Reads the application id of the connection; false, with a log line, without one.
    bool GetDb2ApplId();
    // The key columns of the index joined by "+", appended to columns; whether any came.
    bool GetIndexCols(tString& columns, const char* index);
    f64 GetDBMSVersion() const { return version; }
    const tString& GetApplicationId() const { return applicationId; }
    // The storage clauses of the configuration (DB2/<alias>, DB2, General), appended to sql.
    void GetPartKey(tString& sql);
    void GetTableSpace(tString& sql);
    void GetIndexSpace(tString& sql);  // only with a table space too

    // ---- Column texts of the DDL.
    static void ColumnType(tString& sql, u8 type, u16 length);
    static void ColumnDefault(tString& sql, u8 type, u16 length);
    // name, the type and, but for memos, " NOT NULL " and the default.
    static void ColumnDefinition(tString& sql, const char* name, u8 type, u16 length);

    GML_CLASS_ALLOCATOR(tDB2Connection, Mem_DBConnection)

private:
    std::unique_ptr<tODBCStatement> Statement();
    bool Run(const char* sql, const char* routine);
    // Runs the catalogue text upper-cased whole; whether it ran and a row came.
    bool CatalogueRow(tODBCStatement& stmt, tString& sql, const char* routine, u8 report);
    // The user name inside quotes, upper-cased with the rest of the catalogue text.
    void AppendUser(tString& sql);
    void ReadConfig(const char* key, tString& value);
    void AddDescribedColumn(tTableDefinition& def, const tString& name, const tString& type,
                            f64 length);
    // The index of one catalogue row; true when it is the record-number index.
    bool AddDescribedIndex(tTableDefinition& def, const tString& name, const tString& columns,
                           bool reverseScans, i32 iid);
    bool AlterInPlace(const char* table, tArray<tActionField>& actions, bool& ran);
    // The steps of AlterStructure.
    bool SetAsideKeys(const char* table);
    bool CreateFromActions(const char* table, tArray<tActionField>& actions, u8 hasRecDel);
    bool CopyFromBackup(const char* table, tArray<tActionField>& actions, u8 hasRecDel,
                        f64 highest);

    // Constant after construction.
    tString owner;  // "<USER>."
    // The session's thread only; read once by Connect.
    f64 version = 0.0;
    tString applicationId;
};

// A table of a DB2 connection opened as an ISAM file: key cursors limited to the connection's
// row count and read only, the record fetch with a parameter marker, characters that cannot
// stand in a literal written as CHR(), containment as LOCATE, substrings as SUBSTR and the DB2
// names of the filter's functions. Made by the connection's NewISAMFile; its session's thread.
class tDB2ISAMFile : public tISAMFile {
public:
    tDB2ISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                 tCommBuffer& reply, u32 lockOwner);

    // " CHR(<code>)", joined to what stands before and after by "||".
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override;
    // " FETCH FIRST n ROWS ONLY OPTIMIZE FOR n ROWS" with a row count n, then " FOR READ ONLY".
    void AddAfterOrder() override;
    void RecnoParamMarker() override;  // " = ?"
    // Without key conditions: the first key field from its lowest (highest going backward).
    bool AddKeyBounds(i32 keyFields, const tIndexDefinition* index, i32 conditions, bool backward,
                      bool whereOpen) override;
    void AddIndexSpace() override;
    // "LOCATE(right,left)>0", with the length of a function operand required above 0.
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // " SUBSTR(text,start,length)"; without a length the rest of the field from start.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;
    bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                     tString& suffix) override;

    GML_CLASS_ALLOCATOR(tDB2ISAMFile, Mem_IsamFile)
};
