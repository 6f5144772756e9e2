// The Informix dialect of the ODBC connection: the session set at dirty read, the owner prefix,
// catalogue questions over systables, syscolumns and sysindexes, the containment procedure
// MSCHARINDEX installed by the check-up, the DDL of tables and keys, column changes in place (one
// at a time across the process) or through a copy named <table>_BKP, the statement that pads its
// character values and calls procedures with the ODBC call escape, and the table file's hooks.
#pragma once
#include <memory>

#include "lib_base/critsec.h"
#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"

class tActionField;
class tFilterElement;

// The section that serialises the column alterations of every Informix connection of the
// process: the named lock "INFORMIX/#GMALTER#" of the process's registry, or a section of the
// driver's own where no registry is published.
tCriticalSection& InformixAlterLock();

// The connection for the database type "INFORMIX". Tables are written with the owner prefix
// "<user>."; catalogue probes compare names in lower case. Names that reach its SQL as names are
// checked as identifiers first; an operation given another name runs nothing and fails.
// Threads: used by its session's thread only.
class tInformixConnection : public tODBCConnection {
public:
    tInformixConnection(const char* dbType, const tString& alias, const tString& user,
                        const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tInformixConnection(const char* dbType, const tString& alias, const tString& user,
                        const tString& password, tODBCLibrary& library);

    // ---- Operations of tDBConnection.
    // Dirty read, waiting locks and the session number; false, disconnected and logged, when
    // the number cannot be read.
    bool Connect() override;
    // COMMIT WORK / ROLLBACK WORK inside commit control: 0, or -13 when it failed; outside, 0
    // without running anything. Rollback advances the audit sequence in any case.
    i16 Commit() override;
    i16 Rollback() override;
    // The ODBC check-up with the alteration settings, then MSCHARINDEX created when missing;
    // false when the creation fails.
    bool InitialCheckUp(tString& report) override;
    // The table (index null or empty) or the index of the owner; asked quietly in lower case.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // any owner, the name upper-cased
    tStatement* NewStatement() override;      // a tInformixStmt
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;                                // the table and its index
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    const char* GetOwner() override;                               // "<user>." or ""
    const char* GetSchema() override;                              // the owner upper-cased
    // A tInformixISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // The query's C and N columns as a read-only file owned by the caller; null when it does
    // not run or has no column (-19).
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    tQueryFile* PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) override;
    // Columns by their type codes: VARCHAR C, TEXT M 10, INTEGER and FLOAT N 15,6, any other
    // an X field with a console warning, so that field numbers are column numbers - 1.
    bool DescribeTable(tTableDefinition& def) override;
    // Indexes from part1..part16 of sysindexes, D_E_L_E_T_ left out; a descending (negative)
    // part names the column of its absolute value. The index on R_E_C_N_O_ alone is only noted
    // and, when missing, added as the primary key. An index over a column the definition lacks
    // is left out with a console warning. Needs DescribeTable's fields first.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    bool IsDuplicateKey(i32 native) override;  // -239 and -268
    bool ClearTable(const char* table) override;
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 without a row
    // Column changes in place, in four steps (renames, drops and adds, values, drops of the
    // temporaries and modifications), the ALTER statements under InformixAlterLock. Without
    // ForceAlterTable an add, a type change or a C length change rebuilds (AlterStructure). A
    // failed record count fails before anything runs.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Copies the table into <table>_BKP, drops it, creates it from the change list and copies
    // the kept columns back in record-number blocks. An existing backup with more rows than the
    // table is kept and the call fails (-19); so does a failed record count. A failure stops at
    // once: what ran stays done, possibly with the rows only in the backup.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    void IndexSpaceClause(tString& sql, u8 flag) override;  // of no table: IndexSpace
    void GetSessionID(tString& text) override;              // "(SID: <id>) "
    bool IsMemoAsBlob() override;                           // false

    // ---- Its own.
    // Appends the column type and default of a field letter; nothing for an unknown letter.
    static void ColumnType(tString& out, u8 letter, i32 length);
    // Appends " IN <index space>": the fourth item of the table's storage list, or IndexSpace
    // when the table (null: none) has no list.
    void IndexSpaceClause(tString& sql, const char* table);
    const tString& GetSessionNumber() const { return sessionID; }

    GML_CLASS_ALLOCATOR(tInformixConnection, Mem_DBConnection)

private:
    std::unique_ptr<tODBCStatement> Statement();
    bool Run(const char* sql, const char* routine);
    // Runs a catalogue query quietly; whether it ran and a row came.
    bool Probe(tString& sql, const char* routine);
    bool ReadBool(const char* key);
    // The table's storage list ("<table>_def"), split at commas; empty pieces are dropped.
    void ReadStorageList(const char* table, tString (&items)[4], i32& count);
    void AddDescribedIndex(tTableDefinition& def, tStatement& stmt, bool& recnoKeySeen);
    // Runs sql under the alteration lock.
    bool RunLocked(const char* sql, const char* routine);
    // The steps of AlterTable after the choice.
    bool AlterInPlace(const char* table, tArray<tActionField>& actions, f64 highest);
    bool RebuildFromBackup(const char* table, tArray<tActionField>& actions, u8 hasRecDel,
                           f64 highest);

    // Constant after construction.
    tString ownerPrefix;   // "<user>." or ""
    tString schemaPrefix;  // ownerPrefix upper-cased
    // The session's thread only.
    tString sessionID;
};

// An ODBC statement of an Informix connection: fetched character values are padded with blanks
// to their column size, and stored procedures run through the ODBC call escape with their
// result row as the outputs. Made by the connection and owned by whoever asked for it; its
// connection's thread.
class tInformixStmt : public tODBCStatement {
public:
    explicit tInformixStmt(tODBCConnection* connection);  // not owned

    bool Fetch() override;
    // "{  ?= call name(?,...)}": a "?" and a bind for every input and input/output parameter
    // (taking the input fields in order), the return value read from the result row; each
    // result column becomes a new C or N field appended to outputs (the caller's). 0, or -21
    // with the reason as the connection's last error. The owner prefix is not used.
    i16 SPExec(const char* name, const char* owner, tArray<tDATAField>& inputs,
               tArray<tDATAField>& outputs) override;

    GML_CLASS_ALLOCATOR(tInformixStmt, Mem_DBStatement)

private:
    i16 BindCallParams(tAutoArray<tODBCParam>& params, tArray<tDATAField>& inputs, i32 firstNumber,
                       tString& callText);
    void ReadResultRow(tArray<tDATAField>& outputs);
};

// A table of an Informix connection opened as an ISAM file: a single quote in a literal written
// as a double quote, the key fields selected by the key cursor, the record fetch's marker, the
// index space, containment through MSCHARINDEX, SUBSTR and the Informix function names. Made by
// the connection's NewISAMFile; its session's thread only.
class tInformixISAMFile : public tISAMFile {
public:
    tInformixISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                      tCommBuffer& reply, u32 lockOwner);

    bool NeedsCharFunc(char c) override;  // false: no character functions
    bool AppendLiteral(tString& out, const char* text, i32 length, i32& written) override;
    void AddKeyColumns(i32 keyFields) override;  // " ,<field>" for the index's key fields
    bool AddRecnoEquals(f64 recno) override;     // " = ?": true
    void RecnoParamMarker() override;            // " = ?"
    void AddIndexSpace() override;               // the connection's clause for this table
    // " MSCHARINDEX(right,left,1)>0 ".
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // " SUBSTR(text,start,length)"; without a length the rest of the field from start.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;
    // LOWER, UPPER, TRIM kept; LEN as LENGTH, STRTRAN as REPLACE; EMPTY as the field's empty
    // value; every other name falls back.
    bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                     tString& suffix) override;

    GML_CLASS_ALLOCATOR(tInformixISAMFile, Mem_IsamFile)
};
