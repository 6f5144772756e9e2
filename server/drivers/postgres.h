// The PostgreSQL dialect of the ODBC connection: its check-up block and test table, catalogue
// questions answered from pg_tables, pg_indexes, pg_type and pg_attribute, its DDL, table
// alterations done by rebuilding the table through a copy named <table>_BKP, and its table file
// with the dialect's key-cursor and literal hooks.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"

class tActionField;

// The connection for the database type "POSTGRES". Names that reach its SQL are checked as
// identifiers first; an operation given another name runs nothing and fails.
// Threads: used by its session's thread only.
class tPostgresConnection : public tODBCConnection {
public:
    tPostgresConnection(const char* dbType, const tString& alias, const tString& user,
                        const tString& password);

    // ---- Operations of tDBConnection.
    // The server's settings and the ODBC and catalogue check-ups, then the ROUND(float8, integer)
    // function and a round trip through the test table gmltemp, which stays in the database.
    bool InitialCheckUp(tString& report) override;
    bool CanOpen(const char* table, const char* index) override;  // index null or empty: table
    bool SPExist(const char* name) override;                      // false
    tStatement* NewStatement() override;                          // a tPostgresStmt
    // A tPostgresISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // Runs the query rewritten for PostgreSQL (aggregates as float8, select lists with their
    // literals as text and aliases after " as "), which query then holds, and gives its rows as
    // a query file of its character and number columns; null when it cannot run, with the reason
    // as the last error.
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    // Columns in order, upper-cased: character C, text M 10, float8/int2/int4 N 15,6; any
    // other type an X field, with a console warning. Dropped columns are left out.
    bool DescribeTable(tTableDefinition& def) override;
    // The table's indexes but the one on R_E_C_N_O_ alone, which, when missing, is added to the
    // table as its primary key. An index over anything but plain fields is left out.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    // -10102, or a backend error (psqlODBC's 7 or 1) whose SQLSTATE is an integrity violation
    // (class 23).
    bool IsDuplicateKey(i32 native) override;
    bool ClearTable(const char* table) override;
    // The highest R_E_C_N_O_; 0.0 for an empty table, -1.0 when it could not be read.
    f64 GetRecCount(const char* table) override;
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Rebuilds the table with the new columns: copies it to <table>_BKP, creates it anew and
    // copies the rows back in blocks of 4096 record numbers, each block committed. Every failure
    // rolls back the open block and restores autocommit; rows copied before stay. An existing
    // backup is dropped only when the table holds at least as many rows.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    bool IsMemoAsBlob() override;  // false
    // Quotes doubled; a value with a backslash is written as an E'' literal with the backslash
    // doubled, so it reads the same whatever standard_conforming_strings says.
    void AppendLiteral(tString& sql, const char* value) override;

    GML_CLASS_ALLOCATOR(tPostgresConnection, Mem_DBConnection)

private:
    std::unique_ptr<tODBCStatement> Statement();
    bool RunTestTable(tODBCStatement& stmt, tString& report);
    void AddDescribedColumn(tTableDefinition& def, tODBCStatement& stmt);
    bool AddDescribedIndex(tTableDefinition& def, const char* name, const char* definition);
    bool CheckRebuild(const char* table, tArray<tActionField>& actions, u8 hasRecDel,
                      tString& createSql, tString& copySql);
    bool ReadHighestRecno(tODBCStatement& stmt, const char* table, f64& highest);
    bool MoveToBackup(tODBCStatement& stmt, const char* table);
    bool CopyBack(tODBCStatement& stmt, const tString& copySql, f64 highest);
    bool FailRebuild(std::unique_ptr<tODBCStatement>& stmt);
    // The query's refusal as the last error (-19): the message, the query, a line feed.
    void RefuseQuery(const char* message, const tString& query);
};

// A table of a PostgreSQL connection opened as an ISAM file: key cursors limited by LIMIT,
// characters that would end a literal written as CHR() calls, and the record fetch prepared with
// a parameter marker. Made by tPostgresConnection::NewISAMFile; its session's thread only.
class tPostgresISAMFile : public tISAMFile {
public:
    // Prepares its record fetches when the connection does, and sets the connection's row count
    // to a key cursor's.
    tPostgresISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                      tCommBuffer& reply, u32 lockOwner);

    bool NeedsCharFunc(char c) override;  // the quote and the backslash
    // " CHR(<code>)" joined to what stands before and after by "||".
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override;
    void AddRowLimit() override;       // " LIMIT <row count>"
    void RecnoParamMarker() override;  // " = ?"
    // position(right in left)>0, a character field on the right padded to its length.
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // substring(text,start,length); without a length the rest of the field that text stands
    // for, from a start within it.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;
    // LOWER and UPPER as they are, STRTRAN as REPLACE, EMPTY of a field as its empty value;
    // every other function has no SQL form here.
    bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                     tString& suffix) override;

    GML_CLASS_ALLOCATOR(tPostgresISAMFile, Mem_IsamFile)
};
