// The MySQL dialect of the ODBC connection (MariaDB speaks it too): session start with the probe
// for the mscharindex function and the memo column type, catalogue questions answered with
// "show index" and empty selects, InnoDB DDL, and column changes made in place or by rebuilding
// the changed columns through a copy named <table>_BKP.
#pragma once
#include <functional>
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"
#include "server/isam/gatemill_query.h"

class tActionField;

class tFilterElement;
class tMySQLStmt;

// The connection for the database type "MYSQL". Names that reach its SQL are checked as
// identifiers first; an operation given another name runs nothing and fails.
// Threads: used by its session's thread only.
class tMySQLConnection : public tODBCConnection {
public:
    tMySQLConnection(const char* dbType, const tString& alias, const tString& user,
                     const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection).
    tMySQLConnection(const char* dbType, const tString& alias, const tString& user,
                     const tString& password, tODBCLibrary& library);

    // ---- Operations of tDBConnection.
    // The ODBC connect, then the probe for the mscharindex function and the memo type from the
    // key MemoAsBlob ("longblob" when on, else "text").
    bool Connect() override;
    bool InitialCheckUp(tString& report) override;  // the MySQL block, then the ODBC check-up
    // An index by "show index" (not logged when missing), a table by an empty select (logged).
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // false
    tStatement* NewStatement() override;      // a tMySQLStmt
    // A tMySQLISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // Runs the query and gives its C and N columns as a read-only file owned by the caller; null
    // when it does not run or has no such column (then the last error says so, with -19).
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    // Columns in order as the driver describes them, upper-cased: character types C with their
    // size, long ones and memos the dialect created M 10, numbers N 15,6; any other type an X
    // field, with a console warning.
    bool DescribeTable(tTableDefinition& def) override;
    // The table's indexes but the one on R_E_C_N_O_ alone, which, when missing, is added to the
    // table as its primary key. An index over a column the definition lacks is left out.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;    // "show tables"
    bool IsDuplicateKey(i32 native) override;  // 1062
    // The last error names the primary key: 'PRIMARY', '<table>.PRIMARY' or key 1.
    bool IsRecnoKeyError(const tTableDefinition& def) override;
    bool ClearTable(const char* table) override;  // TRUNCATE TABLE
    // The highest R_E_C_N_O_; 0.0 for an empty table, -1.0 when it could not be read.
    f64 GetRecCount(const char* table) override;
    // Adds and drops columns in place; a type change, a change of a C column's length or a
    // failed in-place statement goes to AlterStructure. Decimals are not changed.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Copies the changed columns with R_E_C_N_O_ into <table>_BKP, drops and adds them again
    // with their new types, and copies the values back in blocks of 4096 record numbers. An
    // existing backup is dropped only when the table holds at least as many rows. A failure
    // stops at once; what ran stays done and the backup stays.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    void DropIndex(tString& sql, const char* table, const char* index) override;
    bool IsMemoAsBlob() override;  // false
    // Quotes doubled; a backslash is written as CHAR(92) inside a CONCAT, so the literal reads
    // the same whether or not the server takes backslashes as escapes.
    void AppendLiteral(tString& sql, const char* value) override;

    // ---- Its own.
    bool HasCharIndex() const { return charIndex; }  // the server has mscharindex
    const tString& GetMemoType() const { return memoType; }

    GML_CLASS_ALLOCATOR(tMySQLConnection, Mem_DBConnection)

private:
    std::unique_ptr<tMySQLStmt> Statement();
    bool Run(tODBCStatement& stmt, const char* sql, const char* routine);
    bool HasIndex(const char* table, const char* index);
    // Describes the table's columns, in order, to visit; false when the table cannot be read.
    using tColumnVisit = void(const char* name, SQLSMALLINT sqlType, SQLULEN size);
    bool VisitColumns(const char* table, const char* routine,
                      const std::function<tColumnVisit>& visit);
    void AddDescribedColumn(tTableDefinition& def, const char* name, SQLSMALLINT sqlType,
                            SQLULEN size);
    bool CheckNames(const char* table, tArray<tActionField>& actions, const char* routine);
    // The column type text by type letter: char(n), double, int or the memo type.
    void AddColumnType(tString& sql, u8 type, i32 length);
    void AddColumnDefinition(tString& sql, const tActionField& action);
    bool AddColumns(const char* table, tArray<tActionField>& actions, u16 flags, bool memoNullable,
                    const char* routine, bool& ran);
    bool CopyChangedColumns(const char* table, tArray<tActionField>& actions);
    bool KeepsBackup(const char* table, const char* backup);
    // A column of the backup but R_E_C_N_O_ that the table lacks ("" when none); "?" when
    // either cannot be described.
    tString MissingBackupColumn(const char* table, const char* backup);

    // Set by Connect.
    bool charIndex = false;
    tString memoType;
};

// A table of a MySQL connection opened as an ISAM file: key cursors limited by LIMIT, the record
// fetch prepared with a parameter marker, and values that hold a character no plain literal may
// carry written as CONCAT of quoted runs and CHAR() codes. Made by
// tMySQLConnection::NewISAMFile; its session's thread only.
class tMySQLISAMFile : public tISAMFile {
public:
    // Prepares its record fetches when the connection does, and sets the connection's row count
    // to a key cursor's.
    tMySQLISAMFile(tMySQLConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                   tCommBuffer& reply, u32 lockOwner);

    // Control characters and bytes from 128 up (below 32 as a signed byte), above 125, the
    // quote and the backslash.
    bool NeedsCharFunc(char c) override;
    void AddRowLimit() override;       // " LIMIT <row count>"
    void RecnoParamMarker() override;  // " = ?"
    // A C, D or L value with a character that needs CHAR() is written as CONCAT('...',CHAR(n),
    // '...') padded with blanks to the field's length; with charFunctions off only a backslash
    // asks for it. Everything else is written as the base writes it.
    bool ValueToSql(i16 fieldNo, tString& out, const char* record, bool pad, bool quote,
                    bool charFunctions) override;
    // A quoted literal with a character that needs CHAR() is written as ValueToSql writes it,
    // as CONCAT(), padded only when asked.
    void WriteLiteral(tString& out, const char* text, i32 length, i32 width, bool pad, bool quote,
                      bool charFunctions) override;
    // " LOCATE(right,left)>0", or mscharindex where the server has it, with a test that a
    // function operand is not empty.
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // " SUBSTRING(text,start,length)"; without a length, the rest of the field that text stands
    // for, which needs a plain start within the field.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;

    GML_CLASS_ALLOCATOR(tMySQLISAMFile, Mem_IsamFile)

private:
    bool NeedsConcat(const char* text, i32 length, bool quote, bool charFunctions);
    void WriteConcat(tString& out, const char* text, i32 length, i32 width);

    tMySQLConnection& mysql;  // the connection that made the file
};

// An ODBC statement of a MySQL connection, with its own long-value transfer. Made by the
// connection and owned by whoever asked for it; used by the connection's thread only.
class tMySQLStmt : public tODBCStatement {
public:
    explicit tMySQLStmt(tMySQLConnection* connection);  // not owned

    // Runs sql with the length bytes of data (any bytes) as its one character parameter; kind
    // is not used. A run that ends with a warning, or whose statement matched no row, counts as
    // failed. The handle stays open, without the parameter.
    bool ExecParam(const char* sql, const void* data, i32 length, i16 kind) override;
    // Reads the column's bytes: at most length - 1 of them, then a terminator; length becomes
    // the number of bytes read (0 for NULL or empty). A longer value is cut, and
    // IsDataTruncated answers true.
    bool GetData(u16 column, void* buffer, i32& length) override;
};

// The rows of a query on a MySQL connection. Made by tMySQLConnection::GetQueryFile.
class tMySQLQueryFile : public tQueryFile {
public:
    using tQueryFile::tQueryFile;
    // The one column of the table list ("show tables") is read by the name FNAMF1; false when
    // the result has no column.
    bool PrepareCatalogQuery() override;
};
