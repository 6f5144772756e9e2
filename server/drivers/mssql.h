// The Microsoft SQL Server dialect of the ODBC connection: session start (server version, the
// session id, read-uncommitted isolation), the check-up block, the pool of child connections
// that serve query files, catalogue questions answered from sysobjects, syscolumns, systypes,
// sysindexes and sysindexkeys, and the DDL of its tables and of GML_PARAM.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"

// The connection for the database types "MSSQL" and "MSSQL7". A main connection owns a pool of
// idle children, and its own list (the tArray base) holds the children that serve open query
// files; a child shares its parent's pool and never deletes it. Names that reach its SQL are
// checked as identifiers first; an operation given another name runs nothing and fails.
// Threads: used by its session's thread only; the busy-child list is changed under the
// connection's write lock, and the process-wide list of data sources under a lock of its own.
class tMSSQLConnection : public tODBCConnection {
public:
    tMSSQLConnection(const char* dbType, const tString& alias, const tString& user,
                     const tString& password);
    // The same over a loader of the caller's (not owned; it must outlive the connection and
    // every child).
    tMSSQLConnection(const char* dbType, const tString& alias, const tString& user,
                     const tString& password, tODBCLibrary& library);
    // A child: the parent's data source, login, loader, memo mode and view setting, and the
    // parent's pool (not owned). Not connected.
    tMSSQLConnection(const tMSSQLConnection& parent, tConnectionPool* parentPool);
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
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    const char* GetOwner() override;                               // "dbo."
    // Columns in order: image and varbinary M 10, text and varchar(max) M 11, varchar C, the
    // integer types and float N 15,6, any other type an X field; console warnings for NULL
    // columns, missing defaults and a R_E_C_N_O_ that is no int. False for a missing table or
    // one without a supported column.
    bool DescribeTable(tTableDefinition& def) override;
    // The table's indexes but the one on R_E_C_N_O_ alone (D_E_L_E_T_ is left out of every
    // key), which, when missing, is added as the clustered primary key <table>_PK. An index
    // over a column the definition lacks is left out with a console warning.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ReleaseChild(tDBConnection* child) override;  // back to the pool
    void ListTables(tString& sql) override;
    f64 GetRecCount(const char* table) override;  // the highest R_E_C_N_O_; -1.0 on failure
    bool RecnoAcceptNull(const char* table) override;
    bool IsAutoRecno(const char* table) override;  // R_E_C_N_O_ is an identity column
    i16 GetDBVersion() override { return version; }
    void GetSessionID(tString& text) override;  // appends "(SPID: <spid>) "
    bool IsMemoAsBlob() override { return memoAsBlob; }

    // ---- The child connections of query files.
    // The first idle child of the pool, or a new one of this session, connected; null (the new
    // child deleted) when it cannot connect.
    std::unique_ptr<tMSSQLConnection> TakeChild();
    // Lists a child that now serves a query file; the file's close gives it back by ReleaseChild.
    void AddBusyChild(tMSSQLConnection* child);
    tConnectionPool* GetPool() const { return pool; }

    // ---- The data sources whose AnsiNPW value was removed, process-wide.
    static bool IsDSNChecked(const char* dsn);  // compared without regard to case
    // Lists the data source, then deletes the registry value "AnsiNPW" of
    // "SOFTWARE\ODBC\ODBC.INI\<dsn>"; a missing key or value is ignored.
    static void RemoveAnsiNPW(const char* dsn);

    // ---- DDL pieces; each appends to out.
    void SqlType(tString& out, u8 letter, i32 length) const;
    static void DefaultName(tString& out, const char* table, const char* field);
    static void DefaultClause(tString& out, u8 letter, i32 length);
    // The column's definition; R_E_C_N_O_ is an identity column when UseAutoRecno of the table.
    void FieldDefinition(tString& out, const char* table, const char* field, u8 letter, i32 length);

    GML_CLASS_ALLOCATOR(tMSSQLConnection, Mem_DBConnection)

private:
    std::unique_ptr<tODBCStatement> Statement();
    bool ReadVersion(tODBCStatement& stmt);
    bool ReadSessionID(tODBCStatement& stmt);
    // The label and the first value of the query's first row, then the ending; or the missing
    // label and the NOT AVAILABLE mark.
    void AppendCheckUpValue(tODBCStatement& stmt, tString& report, const char* query,
                            const char* label, const char* ending, const char* missing);
    bool AddDescribedColumn(tTableDefinition& def, tODBCStatement& stmt);
    // Adds the finished index to def; false when it is the record-number index.
    bool CloseIndex(tTableDefinition& def, std::unique_ptr<tIndexDefinition> index);
    bool CountRecnoColumns(const char* table, const char* condition, const char* routine);

    // Constant after construction.
    tODBCLibrary& library;                     // the process's loader or the caller's
    std::unique_ptr<tConnectionPool> ownPool;  // a main connection's pool; null in a child
    tConnectionPool* pool;                     // ownPool, or the parent's for a child
    const bool isChild;
    u8 viewEnabled = 0;
    // The session's thread only.
    i16 version = 0;
    tString spid;
    u8 memoAsBlob = 0;
    tString textType;
};
