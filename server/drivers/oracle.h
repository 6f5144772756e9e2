// The Oracle driver's statement and connection. The connection chooses the call layer (OCI 7 or
// OCI 8) once at construction and keeps it for its life; every statement owns one cursor of that
// layer. Both talk to the client library only through the call layer of server/drivers/oci.h.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/oci.h"
#include "server/isam/dbconn.h"

class tDATAField;
class tOracleConnection;

// One parameter of an insert or update bound by position (ExecSpecial): the type letter ('C',
// 'D', 'L' or 'N'), the value's address (not owned) and its length in bytes. Numbers are 8-byte
// doubles.
class tBindParam {
public:
    tBindParam(u8 type, void* value, u16 length) : type(type), value(value), length(length) {}
    virtual ~tBindParam() = default;

    u8 type;
    void* value;
    u16 length;
};

// One statement of an Oracle connection over its own cursor of the call layer. Made by the
// connection's NewStatement and owned by whoever asked; used by the connection's thread only.
// Failures of the library go to the connection's HandleError, whose result becomes the return
// code; a failed execution closes the statement.
class tOracleStmt : public tStatement {
public:
    explicit tOracleStmt(tOracleConnection* connection);  // not owned; makes the cursor
    ~tOracleStmt() override;                              // closes and deletes the cursor

    // ---- Operations of tStatement.
    void* GetHandle() override;  // the cursor's data area (OCI 7) or statement handle (OCI 8)
    void Open(u8 ignored) override;
    void Close() override;
    bool Prepare(const char* sql, const char* routine) override;
    // Runs the prepared statement with the record number bound at placeholder 1; the first
    // successful run binds the result columns, later runs reuse them.
    bool ExecRecnoStmt(const char* sql, f64 recno, const char* routine) override;
    bool ExecSqlStmt(const char* routine) override;
    bool ReleasePreparedStmt() override;  // true, nothing else
    // Binds the values by their type letters at positions 1, 2, ... and runs the prepared
    // statement. The statement owns the values until the next BindParam with other values or
    // Close (null: run again with those bound before). A value that cannot be bound is refused
    // with -19 (-290 for an 'R' that names no open query's text column) and nothing runs.
    bool BindParam(std::unique_ptr<tAutoArray<tDATAField>> values) override;
    // A read-only connection runs queries only. report 0: a failure sets the last error without
    // writing the log.
    bool ExecDirect(const char* sql, const char* routine, u8 report) override;
    bool ExecWithRecno(const char* sql, f64 recno, const char* routine) override;
    bool BindResult(u8 bind) override;
    bool GetBlob(const char* sql, void* buffer, i32& length) override;
    // Runs sql, whose first '?' becomes ":1", with data bound there as a long value: kind 10
    // long raw, 11 long text; values above 65535 bytes get the long-value header in front.
    bool ExecParam(const char* sql, const void* data, i32 length, i16 kind) override;
    bool BindCols(i16 count) override;
    bool Fetch() override;
    i16 SPExec(const char* name, const char* second, tArray<tDATAField>& inputs,
               tArray<tDATAField>& outputs) override;
    // Runs sql with the parameters bound at positions 1, 2, ... (insert and update of the ISAM
    // file); a query's columns are bound.
    bool ExecSpecial(const char* sql, tArray<tBindParam>& params, const char* routine,
                     u8 report) override;

    // ---- Added operations.
    tOCIStmt& GetCursor() { return *cursor; }
    i32 GetLastOCICode() const { return lastOCICode; }
    tOracleConnection& GetOracle() { return oracle; }

    GML_CLASS_ALLOCATOR(tOracleStmt, Mem_DBStatement)

private:
    void CloseCursor();  // Close without touching the session's last statement
    // The common frame of the executing operations.
    void Begin(const char* routine, const char* sql, bool noteStatement);
    bool Fail(const char* routine, const char* sql, u8 report);  // HandleError; false
    void NoteStatement(const char* sql, const char* routine);
    void OpLog(const char* routine, const char* sql);
    bool StartPreparedRun(const char* routine);
    // BindParam's work (oracle_bind.cpp): every value is checked and laid out before the
    // first is bound.
    struct tBinding;
    bool BindValues(tAutoArray<tDATAField>& values);
    bool MakeBinding(tDATAField& value, u32 position, tBinding& binding);
    bool FileColumnBinding(tDATAField& value, tBinding& binding);
    bool RefuseValue(u32 position, const char* reason, const char* text);
    bool FailBind();             // a bind the library refused: HandleError, Close, false
    char* Scratch(size_t size);  // zeroed bytes that stay until Close or the next values

    tOracleConnection& oracle;
    tOCI* oci;  // the connection's call layer, not owned
    std::unique_ptr<tOCIStmt> cursor;
    i32 lastOCICode = 0;
    char recnoText[kRecnoTextSize] = {};  // the record number bound at placeholder 1
    std::unique_ptr<tAutoArray<tDATAField>> boundValues;
    std::vector<std::unique_ptr<char[]>> scratch;  // what the binds of boundValues point into
};

// The database session of a client whose database type is ORACLE. The catalogue and DDL
// operations live in oracle_catalog*.cpp, the ISAM file in oracle_isam*.cpp.
class tOracleConnection : public tDBConnection {
public:
    // Chooses the call layer (GetOCIVersion) and makes it; no contact with the database.
    tOracleConnection(const char* dbType, const tString& alias, const tString& user,
                      const tString& password, bool useSysTables);
    // Deletes this session's GML_PARAM rows (with IsamConnection), logs off, deletes the layer.
    ~tOracleConnection() override;

    // ---- Operations of tDBConnection.
    // Logon, the session's NLS settings, the GML_PARAM clean-up and the session identifier.
    bool Connect() override;
    bool IsConnected() override;
    void Disconnect() override;
    // The native code and text of the last failure as the last error; 3113, 3114, 1034 and
    // 12514 mark the link as lost. Nothing reconnects.
    i32 HandleError(tStatement* stmt, const char* routine, const char* sql, i32 nativeRc,
                    u8 report) override;
    void* GetHandle() override { return oci.get(); }
    i32 GetErrorText(tStatement* stmt) override;  // the last error only: no log, no trace
    // 0, or -13 when the call layer failed.
    i16 StrCmtCtl() override;
    i16 EndCmtCtl() override;  // autocommit on again
    i16 Commit() override;
    i16 Rollback() override;
    bool InitialCheckUp(tString& report) override;
    tStatement* NewStatement() override;
    const char* GetOwner() override { return ""; }
    const char* GetSchema() override { return schema.GetText(); }
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 lockOwner) override;  // a tOracleISAMFile
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) override;
    tQueryFile* PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) override;
    bool IsDuplicateKey(i32 native) override;  // 1 and 100
    bool IsRecnoKeyError(const tTableDefinition& def) override;
    void BeginTran() override;
    void EndTran() override;
    void AbortTran() override;  // commits, then autocommit on
    void LogAction(const char* first, const char* second) override;
    void GetSessionID(tString& text) override;  // appends "(SID: <sid>) "
    bool GetServerName(tString& out) override;
    bool IsMemoAsBlob() override { return oci8 != 0; }

    // ---- Catalogue and DDL (oracle_catalog.cpp, oracle_ddl.cpp, oracle_alter.cpp). Every
    // catalogue read takes the SYS tables of the schema (UseSysTables) or the DBA views of the
    // table owner. The probes run quietly: a missing object is a plain false. The DDL texts
    // only write the statement; the caller runs it.
    bool CanOpen(const char* table, const char* index) override;
    bool SPExist(const char* name) override;
    void CreateTable(const tTableDefinition& def, tString& sql) override;
    bool CreateGMLParam() override;
    bool SetParam(const char* name, const char* value) override;
    bool AddPrimaryKey(tString& sql, const char* table) override;
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    bool DescribeTable(tTableDefinition& def) override;  // false when the table has no column
    // Adds the indexes but the record-number one, and the primary key when that one is
    // missing; false when the indexes could not be counted.
    bool DescribeIndexes(tTableDefinition& def) override;
    void ListTables(tString& sql) override;  // the names in the column FNAMF1
    bool ClearTable(const char* table) override;
    f64 GetRecCount(const char* table) override;  // -1.0 when the query failed
    // In place; with ForceAlterTable off a type change or a character length change goes to
    // AlterStructure. The entries' marks are replaced by the plan chosen.
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    // Rebuilds the changed columns through a copy in <table>_BKP.
    bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override;
    void IndexSpaceClause(tString& sql, u8 flag) override;  // " TABLESPACE " + IndexSpace
    bool RecnoAcceptNull(const char* table) override;

    // ---- Own operations.
    // Whether this process's connections use the OCI 8 layer: ClientLibrary, then OCIVersion
    // of [Oracle], then a probe for the version 9 client that runs once per process.
    static bool GetOCIVersion();
    // Forgets the probed version (tests run the probe again).
    static void ResetOCIVersionProbe();
    i32 GetVersion();    // the server's major release, read once; 0 when unknown
    i32 UseHintFirst();  // [Oracle] UseHint, read once (default 1)
    i32 UseHintIndex();  // [Oracle] IndexHint, read once (default 1)
    tOCI& GetOCI() { return *oci; }
    bool UsesOCI8() const { return oci8 != 0; }
    const tString& GetMemoType() const { return memoType; }
    const tString& GetSessionIdentifier() const { return sessionId; }
    // Record fetches of every file of this connection run unprepared from here on.
    void DisablePreparedStmt() { preparedStmt = 0; }
    // A statement of this connection, owned by the caller.
    std::unique_ptr<tOracleStmt> MakeStatement();

    GML_CLASS_ALLOCATOR(tOracleConnection, Mem_DBConnection)

private:
    // Runs sql on a fresh statement; its first row's first column into firstColumn when given
    // and a row came back. False when the statement failed or (with firstColumn) gave no row.
    bool RunSingle(const char* sql, const char* routine, u8 report, tString* firstColumn);
    // Runs sql and appends each row as "%40s %s\n" (width 2) or "%40s %s %s\n" (width 3);
    // false when it failed. With keepName, the second column of the row named so goes into kept.
    bool AppendRows(const char* sql, i16 width, tString& report, const char* keepName = nullptr,
                    tString* kept = nullptr);
    void ReadErrorText(tStatement* stmt);  // HandleError's steps 1, 2 and 4
    void DeleteSessionParams(const char* routine);
    i16 CallLayerResult(bool ok, const char* routine);  // 0, or HandleError and -13

    u8 oci8 = 0;
    std::unique_ptr<tOCI> oci;
    i32 serverVersion = 0;
    tString schema;
    i32 hintFirst = -1;
    i32 hintIndex = -1;
    tString memoType;
    tString sessionId;
};
