// The Sybase dialect of the ODBC connection: session start (the DBMS version and the isolation
// level), catalogue questions answered from sysobjects, sysindexes and syscolumns, the row limit
// of SET ROWCOUNT, the DDL of its tables and of GML_PARAM, column changes that always rebuild
// the table through a copy named <table>_BKP, query files on child connections, and its table
// file with the dialect's hooks. Servers before version 15 read the catalogue and the key
// cursors with NOLOCK and take the isolation level by name.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/tsql.h"
#include "server/isam/gatemill.h"

class tActionField;

// The connection for the database type "SYBASE", with children for its query files
// (tTSQLConnection). Names that reach its SQL are checked as identifiers first; an operation
// given another name runs nothing and fails. Its session's thread only.
class tSybaseConnection : public tTSQLConnection {
public:
    tSybaseConnection(const char* dbType, const tString& alias, const tString& user,
                      const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection and
    // every child).
    tSybaseConnection(const char* dbType, const tString& alias, const tString& user,
                      const tString& password, tODBCLibrary& library);
    // A child: "SYBASE" over the parent's data source, login, loader and pool. Not connected.
    explicit tSybaseConnection(const tSybaseConnection& parent);

    // ---- Operations of tDBConnection.
    // The ODBC connect, then the DBMS version (0 when the driver does not tell it) and, with
    // ForceIsolation on, read-uncommitted isolation; a failed isolation statement is no failure.
    bool Connect() override;
    // Whether the table (index null or empty), or an index of that name on any table, exists.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // a procedure of the upper-cased name exists
    tStatement* NewStatement() override;      // a tODBCStatement
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;  // the table, then its unique index GML_PARAM1
    // Columns in order: image and varbinary M 10, varchar C, the integer types and float N 15,6,
    // any other type an X field with a console warning. False for a table the catalogue lacks.
    bool DescribeTable(tTableDefinition& def) override;
    // The table's indexes but the one on R_E_C_N_O_ alone (D_E_L_E_T_ is left out of every
    // key), which, when missing, is added as the clustered primary key <table>_PK. An index
    // over a column the definition lacks is left out with a console warning. Whether the count
    // of the table's indexes could be read.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    bool ClearTable(const char* table) override;  // TRUNCATE TABLE
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 on failure
    i16 GetDBVersion() override { return version; }
    // Rebuilds through AlterStructure unless every change is one the columns take as they are
    // (a decimals change, or a length change of an N field): then nothing runs.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Rebuilds the table through a copy <table>_BKP, which stays; an existing copy with more
    // rows than the table is kept and the call fails (-19).
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // A tSybaseISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // Runs the query on a child connection, which the file holds until ReleaseChild; null when
    // it cannot run, with the child's error (or -19 for a result without columns) as this
    // connection's last error.
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    bool SetRowCount(i16 rows) override;  // SET ROWCOUNT, sent only when the count changes

    // The first version that reads without NOLOCK and numbers its isolation levels.
    static constexpr i16 kVersionWithoutNoLock = 15;
    bool IsOldServer() const { return version < kVersionWithoutNoLock; }

    GML_CLASS_ALLOCATOR(tSybaseConnection, Mem_DBConnection)

protected:
    tTSQLConnection* NewChild() override;
    void BackupKey(tString& sql, const char* backup) override;  // its clustered primary key

private:
    const char* NoLock() const { return IsOldServer() ? "NOLOCK " : ""; }
    // Whether the text runs and its first row holds a count above 0.
    bool CountsAny(tODBCStatement& stmt, const char* sql, const char* routine);
    void AddDescribedColumn(tTableDefinition& def, tODBCStatement& stmt);
    // The key fields of the catalogue's rows, grouped into indexes; whether the record-number
    // index was among them.
    bool ReadIndexes(tTableDefinition& def, tODBCStatement& stmt);
    bool CopyBack(tODBCStatement& stmt, const char* table, tArray<tActionField>& actions,
                  u8 hasRecDel);

    // The session's thread only.
    i16 version = 0;
};

// A table of a Sybase connection opened as an ISAM file: the prepared record fetch, characters
// that would end a literal written as CHAR() calls, NOLOCK after the table on old servers, and
// the filter hooks. Made by tSybaseConnection::NewISAMFile; its session's thread only.
class tSybaseISAMFile : public tISAMFile {
public:
    // Also sets the connection's row limit to the key cursor's 40 rows.
    tSybaseISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                    tCommBuffer& reply, u32 lockOwner);

    // "CHAR(<code>)" joined to what stands before and after by "+".
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override;
    void AddTableHint() override;      // " NOLOCK " on a server before version 15
    void RecnoParamMarker() override;  // " = CONVERT( INT , ? )"
    void AddIndexSpace() override;     // the connection's IndexSpaceClause
    // CHARINDEX(right,left)>0, a C field as CONVERT(CHAR(<length>),field).
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // SUBSTRING(text,start,length); without a length the rest of the field from start.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;

    GML_CLASS_ALLOCATOR(tSybaseISAMFile, Mem_IsamFile)

private:
    static constexpr i16 kKeyCursorRows = 40;
};
