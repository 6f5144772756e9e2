// The Microsoft SQL Server dialect of the ODBC connection: session start (server version, the
// session id, read-uncommitted isolation), the check-up block, the pool of child connections
// that serve query files, catalogue questions answered from sysobjects, syscolumns, systypes,
// sysindexes and sysindexkeys, the DDL of its tables and of GML_PARAM, table alterations in place
// or through a copy named <table>_BKP, query files on child connections, and its table file with
// the dialect's hooks.
#pragma once
#include <memory>
#include <vector>

#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/tsql.h"
#include "server/isam/gatemill.h"

class tActionField;

// The connection for the database types "MSSQL" and "MSSQL7", with children for its query files
// (tTSQLConnection). Names that reach its SQL are checked as identifiers first; an operation
// given another name runs nothing and fails.
// Threads: used by its session's thread only; the process-wide list of data sources is guarded
// by a lock of its own.
class tMSSQLConnection : public tTSQLConnection {
public:
    tMSSQLConnection(const char* dbType, const tString& alias, const tString& user,
                     const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection and
    // every child).
    tMSSQLConnection(const char* dbType, const tString& alias, const tString& user,
                     const tString& password, tODBCLibrary& library);
    // A child: the parent's data source, login, loader, memo mode, view setting and pool. Not
    // connected.
    explicit tMSSQLConnection(const tMSSQLConnection& parent);
    // Deletes the session's GML_PARAM rows (when IsamConnection is on) and disconnects; a main
    // connection then deletes its pool and the idle children in it.
    ~tMSSQLConnection() override;

    // ---- Operations of tDBConnection.
    // The ODBC connect, then the server's major version (7 or later is served), the session id
    // and read-uncommitted isolation. A server refused after the ODBC session opened stays
    // connected; destruction ends it.
    bool Connect() override;
    bool InitialCheckUp(tString& report) override;  // the SQL Server block, then the ODBC one
    // Whether the table (index null or empty), or an index of that name anywhere in the
    // database, exists; nothing is logged when it does not.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;  // a procedure of the upper-cased name exists
    tStatement* NewStatement() override;      // a tODBCStatement
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;
    // Columns in order: image and varbinary M 10, text and varchar(max) M 11, varchar C, the
    // integer types and float N 15,6, any other type an X field; console warnings for NULL
    // columns, missing defaults and a R_E_C_N_O_ that is no int. False for a missing table or
    // one without a supported column.
    bool DescribeTable(tTableDefinition& def) override;
    // The table's indexes but the one on R_E_C_N_O_ alone (D_E_L_E_T_ is left out of every
    // key), which, when missing, is added as the clustered primary key <table>_PK. An index
    // over a column the definition lacks is left out with a console warning.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 on failure
    bool RecnoAcceptNull(const char* table) override;
    bool IsAutoRecno(const char* table) override;  // R_E_C_N_O_ is an identity column
    i16 GetDBVersion() override { return version; }
    void GetSessionID(tString& text) override;  // appends "(SPID: <spid>) "
    bool IsMemoAsBlob() override { return memoAsBlob; }
    bool SetParam(const char* name, const char* value) override;  // this session's row
    bool ClearTable(const char* table) override;                  // TRUNCATE TABLE
    // Alters the columns in place: renamed aside and copied for a conversion to C, dropped and
    // added for other type changes, ALTER COLUMN for a C length; the indexes over touched
    // columns are dropped and not made again. Falls back to AlterStructure when ForceAlterTable
    // is off and a type changes or a C field shortens.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Rebuilds the table through a copy <table>_BKP, which stays; an existing copy with more
    // rows than the table is kept and the call fails (-19).
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // A tMSSQLISAMFile over the definition, not yet opened; owned by the caller.
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;
    // Runs the query on a child connection, which the file holds until ReleaseChild; null when
    // it cannot run, with the child's error (or -19 for a result without columns) as this
    // connection's last error.
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    tQueryFile* PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) override;
    bool SetRowCount(i16 rows) override;  // SET ROWCOUNT, sent only when the count changes
    bool IsUserError(i32 native) override { return native == 50000 || native == 547; }
    f64 GetInsertedRecno() override;  // SCOPE_IDENTITY(); -1.0 when none is read

    // ---- The data sources whose AnsiNPW value was removed, process-wide.
    static bool IsDSNChecked(const char* dsn);  // compared without regard to case
    // Lists the data source, then deletes the registry value "AnsiNPW" of
    // "SOFTWARE\ODBC\ODBC.INI\<dsn>"; a missing key or value is ignored.
    static void RemoveAnsiNPW(const char* dsn);

    // ---- DDL pieces; each appends to out.
    void SqlType(tString& out, u8 letter, i32 length) const;
    static void DefaultName(tString& out, const char* table, const char* field);
    // The column's definition; R_E_C_N_O_ is an identity column when UseAutoRecno of the table.
    void FieldDefinition(tString& out, const char* table, const char* field, u8 letter, i32 length);
    // Queues the drops of the column's default constraints; false when the query failed.
    bool DropColumnConstraints(const char* table, const char* field, std::vector<tString>& queue);

    GML_CLASS_ALLOCATOR(tMSSQLConnection, Mem_DBConnection)

protected:
    tTSQLConnection* NewChild() override;
    void BackupKey(tString& sql, const char* backup) override;  // CREATE INDEX <backup>IDX

private:
    bool ReadVersion(tODBCStatement& stmt);
    bool ReadSessionID(tODBCStatement& stmt);
    // The label and the first value of the query's first row, then the ending; or the missing
    // label and the NOT AVAILABLE mark.
    void AppendCheckUpValue(tODBCStatement& stmt, tString& report, const char* query,
                            const char* label, const char* ending, const char* missing);
    bool AddDescribedColumn(tTableDefinition& def, tODBCStatement& stmt);
    bool CountRecnoColumns(const char* table, const char* condition, const char* routine);
    bool DropTouchedIndexes(const char* table, tArray<tActionField>& actions,
                            std::vector<tString>& queue);
    bool AddColumns(tODBCStatement& stmt, const char* table, const tString& columns);
    bool CopyBack(const char* table, tArray<tActionField>& actions, u8 hasRecDel);

    // Constant after construction.
    u8 viewEnabled = 0;
    // The session's thread only.
    i16 version = 0;
    tString spid;
    u8 memoAsBlob = 0;
    tString textType;
};

// A table of a SQL Server connection opened as an ISAM file: characters that would end a
// literal written as CHAR() calls, the prepared record fetch, and the filter hooks in T-SQL.
// Made by tMSSQLConnection::NewISAMFile; its session's thread only.
class tMSSQLISAMFile : public tISAMFile {
public:
    tMSSQLISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                   tCommBuffer& reply, u32 lockOwner);

    // "CHAR(<code>)" joined to what stands before and after by "+".
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override;
    void RecnoParamMarker() override;  // " = ?", then AddAfterOrder
    void AddIndexSpace() override;     // the connection's IndexSpaceClause
    // CHARINDEX(right,left)>0, a C field longer than 2 as CONVERT(CHAR(<length>),field).
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // SUBSTRING(text,start,length); without a length the rest of the field from start.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;
    bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                     tString& suffix) override;

    GML_CLASS_ALLOCATOR(tMSSQLISAMFile, Mem_IsamFile)
};
