// The CloudScape dialect of the ODBC connection: the schema prefix and schema id, catalogue
// questions over the sys. tables, the DDL of tables, keys and indexes, column changes in place or
// through a copy named <table>_BKP, its statement's long values, and its table file, whose
// literals, containment and substrings are written in CloudScape SQL. The c-treeSQL driver
// builds its statement and table file on the last two.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/ddl_shared.h"
#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"

class tActionField;
class tField;
class tFilterElement;

// The connection for the database type "CLOUDSCAPE". Tables live in the schema of the user
// (ADMIN without one). Names that reach its SQL as names are checked as identifiers first; an
// operation given another name runs nothing and fails. Names inside catalogue literals are quoted.
// Threads: used by its session's thread only.
class tCloudScapeConnection : public tODBCConnection {
public:
    tCloudScapeConnection(const char* dbType, const tString& alias, const tString& user,
                          const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tCloudScapeConnection(const char* dbType, const tString& alias, const tString& user,
                          const tString& password, tODBCLibrary& library);

    // ---- Operations of tDBConnection.
    // The table (index null or empty) in the schema, or an index of the table whose name
    // matches without regard to case; the catalogue is asked quietly.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // false
    tStatement* NewStatement() override;      // a tCloudScapeStmt
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;                                // the table and its index
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    const char* GetOwner() override;                               // the schema prefix
    // A tCloudScapeISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // The query's C and N columns as a read-only file owned by the caller; null when it does
    // not run or has no column (-19).
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    // Columns in column order: LONG VARCHAR M 10, VARCHAR and CHAR C of their length, DOUBLE
    // and the integer types N 15,6, any other type an X field with a console warning.
    bool DescribeTable(tTableDefinition& def) override;
    // Indexes from the key columns of their descriptors ("BTREE (1, 3, 2)"), D_E_L_E_T_ left
    // out of every key; the one on R_E_C_N_O_ alone is only noted and, when missing, added as
    // the primary key. An index whose descriptor names no column of the definition is left out
    // with a console warning. Needs DescribeTable's fields first.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    bool IsDuplicateKey(i32 native) override;                    // -1
    bool IsRecnoKeyError(const tTableDefinition& def) override;  // the text names key 1
    bool ClearTable(const char* table) override;
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 without a row
    // Adds columns in place, one ALTER TABLE each; a drop, a type change, a change of a C
    // length or a failed add goes to AlterStructure.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Copies the changed columns with R_E_C_N_O_ into <table>_BKP, drops them (and the dropped
    // ones), adds them with their new types and copies the values back in record-number
    // blocks. An existing backup with more rows than the table is kept and the call fails
    // (-19). A failure stops at once; what ran stays done and the backup stays.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    void DropIndex(tString& sql, const char* table, const char* index) override;
    bool IsMemoAsBlob() override;  // false

    // ---- Its own.
    // The catalogue id of the schema, looked up once found; empty while the schema is not found.
    const tString& GetSchemaID();

    GML_CLASS_ALLOCATOR(tCloudScapeConnection, Mem_DBConnection)

private:
    std::unique_ptr<tODBCStatement> Statement();
    bool Run(const char* sql, const char* routine);
    bool HasIndex(const char* table, const char* index);
    void AddDescribedColumn(tTableDefinition& def, const char* name, const char* dataType);
    bool AddIndexFromDescriptor(tTableDefinition& def, const tString& name, const char* descriptor);
    bool AddColumnsInPlace(const char* table, tArray<tActionField>& actions);
    // The steps of AlterStructure; ran is set once a statement has run.
    bool CopyChangedColumns(const char* table, tArray<tActionField>& actions, bool& ran);
    bool DropChangedColumns(const char* table, tArray<tActionField>& actions, bool& ran);
    bool AddChangedColumns(const char* table, tArray<tActionField>& actions, bool& ran);
    bool CopyBack(const char* table, tArray<tActionField>& actions, bool ran);

    // Constant after construction.
    tString schemaPrefix;  // "<USER>." or "ADMIN."
    // The session's thread only.
    tString schemaId;
};

// An ODBC statement of a CloudScape (or c-treeSQL) connection, with its own long-value
// transfer. Made by the connection and owned by whoever asked for it; its connection's thread.
class tCloudScapeStmt : public tODBCStatement {
public:
    explicit tCloudScapeStmt(tODBCConnection* connection);  // not owned

    // Runs sql with the length bytes of data as its one character parameter; kind is not used.
    // A run that ends with a warning counts as failed.
    bool ExecParam(const char* sql, const void* data, i32 length, i16 kind) override;
    // Reads the column as text: at most length - 1 characters and a terminator; length becomes
    // the count read (cut: the buffer's). False, leaving length, without a statement handle.
    bool GetData(u16 column, void* buffer, i32& length) override;

    GML_CLASS_ALLOCATOR(tCloudScapeStmt, Mem_DBStatement)

protected:
    // routines: the names of ExecParam and GetData in errors and traces.
    tCloudScapeStmt(tODBCConnection* connection, const char* execRoutine, const char* readRoutine);

private:
    const char* const execRoutine;
    const char* const readRoutine;
};

// A table of a CloudScape (or c-treeSQL) connection opened as an ISAM file: a single quote in a
// literal written as a character function, containment as LOCATE and substrings as SUBSTRING;
// other function calls of a filter fall back. Made by the connection's NewISAMFile; its
// session's thread only.
class tCloudScapeISAMFile : public tISAMFile {
public:
    tCloudScapeISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                        tCommBuffer& reply, u32 lockOwner);

    bool NeedsCharFunc(char c) override;  // the single quote only
    // " = ?": the prepared record fetch binds the record number, which the text must compare.
    void RecnoParamMarker() override;
    // " CHAR(<code>)", joined to what stands before and after by "||".
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override;
    // "LOCATE(right,left)>0 ".
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // " SUBSTRING(text,start,length)"; without a length the rest of the field from start.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;

    GML_CLASS_ALLOCATOR(tCloudScapeISAMFile, Mem_IsamFile)

protected:
    // charFunction: the opening of the dialect's character function, such as " CHAR(".
    tCloudScapeISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                        tCommBuffer& reply, u32 lockOwner, const char* charFunction);

private:
    const char* const charFunction;
};

// ---- Pieces that the c-treeSQL dialect shares.
// Whether the table and every column of the change list are plain identifiers.
bool AreAlterNames(const char* table, tArray<tActionField>& actions);
// Runs "create table GML_PARAM..." and then, when it ran, its index, on statements of conn under
// routine; true when both ran.
bool CreateParamTable(tODBCConnection& conn, const char* routine);
// The fields of a table rebuilt from the change list: every field not dropped with its new
// type, then D_E_L_E_T_, R_E_C_N_O_ and, with hasRecDel, R_E_C_D_E_L_.
void AddRebuiltFields(tTableDefinition& def, tArray<tActionField>& actions, u8 hasRecDel);
// The columns that a rebuild copies back from its backup and the values it copies, each list
// joined by ",": copied decides for each change, value writes the value of a copied one.
void JoinCopiedColumns(tArray<tActionField>& actions, bool (*copied)(const tActionField&),
                       void (*value)(tString& sql, const tActionField&), tString& names,
                       tString& values);
// What a dialect writes after a new table's column name, by type letter.
struct tColumnTexts {
    const char* text;           // A, C, D: then the length,
    const char* textDefault;    // then this, blanks and "'"
    u32 maxBlanks;              // at most this many blanks in a text default
    const char* number;         // B, F, N, P, Z
    const char* logical;        // L
    const char* memo;           // M
    const char* recno;          // R
    const char* textEnd = "'";  // what closes a text default
};
// The field's name and its column text; a letter outside the table adds nothing to the name.
void AppendNewColumn(tString& sql, const tField& field, const tColumnTexts& texts);
// The column text of a type letter and length alone.
void AppendColumnType(tString& sql, u8 letter, i32 length, const tColumnTexts& texts);
