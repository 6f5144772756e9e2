// The database side's base classes: tDBConnection (one database session of a client session),
// tStatement (one SQL statement and its result columns) and tConnectionPool (further sessions a
// driver keeps). Every driver derives from them and overrides their virtual operations, which
// keep one slot order for the dispatcher, the ISAM files and every driver.
#pragma once
#include <cstddef>
#include <memory>

#include "lib_base/autochar.h"
#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/mstimer.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tActionField;
class tBindParam;
class tCommBuffer;
class tDATAField;
class tDBSession;
class tField;
class tGenericFile;
class tIndexDefinition;
class tJoinInfo;
class tQueryFile;
class tRecordLockEngine;
class tStatement;
class tTableDefinition;
class tTableDefinitionExclusive;
class tTableDefinitionShared;

// Room for any record number written with "%.0f" (309 digits for the largest double), its sign
// and the NUL.
constexpr size_t kRecnoTextSize = 320;
// The record number written with "%.0f" into buffer; returns buffer.
char* RecnoToStr(f64 recno, char (&buffer)[kRecnoTextSize]);
// The text, or "" for null (an owner prefix, a column read back).
inline const char* OrEmpty(const char* text) { return text ? text : ""; }
// The number of def's field called name, compared without regard to case; -1, quietly, when
// there is none.
i16 FindFieldNo(const tTableDefinition& def, const char* name);

// One column of a structure change handed to a driver's AlterTable: the column's name, its
// type, length and decimals before and after, and the kinds of change as bit flags. Kept in an
// owning list; one thread.
class tActionField {
public:
    static constexpr u16 kAdd = 0x2;
    static constexpr u16 kDrop = 0x4;
    static constexpr u16 kTypeChange = 0x8;
    static constexpr u16 kLengthChange = 0x10;
    static constexpr u16 kDecimalsChange = 0x20;

    // Both the old and the new values start as the ones given; the name is trimmed.
    tActionField(const char* name, u8 type, u16 length, u16 decimals);
    virtual ~tActionField() = default;

    bool Has(u16 flag) const { return (actions & flag) != 0; }

    tString name;
    u8 oldType;
    u8 newType;
    u16 oldLength;
    u16 newLength;
    u16 oldDecimals;
    u16 newDecimals;
    u16 actions = 0;
};

// One database session of a client session, which owns it. Failures travel as negative codes
// and false or null results, with the reason in the connection's last error (SetError).
// Threads: used by its session's thread only. The lock base guards the child list for drivers
// that keep children; the base operations take no lock.
class tDBConnection : public tRWLock, public tArray<tDBConnection> {
public:
    // Reads [General] TraceIndex, then IsamConnection, PreparedStmt and ReadOnly by the chain
    // of the database type and the alias. Makes no contact with the database.
    tDBConnection(const char* dbType, const tString& alias, const tString& user,
                  const tString& password);

    // ---- Virtual operations, in slot order. The base forms answer "not supported" as noted.
    ~tDBConnection() override;  // the children are not deleted; drivers disconnect
    virtual bool Connect() = 0;
    virtual bool IsConnected();
    virtual void Disconnect();
    // Records a native failure of a statement (null: of the connection); base 0.
    virtual i32 HandleError(tStatement* stmt, const char* routine, const char* sql, i32 nativeRc,
                            u8 report);
    virtual void* GetHandle();  // the native connection handle; base null
    virtual bool IsTraced();    // a session is set and its trace is on
    // The statement trace: TraceStart restarts the timer and keeps the label (a routine name);
    // the others add one line to the session's trace with that label and the time since.
    // Nothing without a session.
    virtual void TraceStart(const char* label);
    virtual void TraceRecno(const char* text, f64 recno);  // text + " -- ( R = <recno> )"
    virtual void TraceResult(const char* text, const char* result);
    virtual void TraceEnd(const char* text);
    // The driver's text of the last native failure, made the last error; base 0.
    virtual i32 GetErrorText(tStatement* stmt);
    virtual i16 StrCmtCtl();  // base -13
    virtual i16 EndCmtCtl();  // base -13
    virtual i16 Commit();     // base -13
    virtual i16 Rollback();   // base: the audit sequence advances; -13
    virtual bool InitialCheckUp(tString& report);
    virtual bool CanOpen(const char* table, const char* index);  // index null: the table only
    virtual bool SPExist(const char* name);
    virtual tStatement* NewStatement();  // owned by the caller; base: a plain tStatement
    // The driver's CREATE TABLE text; base: nothing. Names are written as they are: a caller
    // with names from a client checks them first (IsSqlIdentifier).
    virtual void CreateTable(const tTableDefinition& def, tString& sql);
    virtual bool CreateGMLParam();
    virtual bool SetParam(const char* name, const char* value);  // base true
    virtual bool AddPrimaryKey(tString& sql, const char* table);
    virtual void GetRecnoIndex(const char* table, tString& sql);  // base: empty
    virtual const char* GetOwner();                               // table prefix; base null
    virtual const char* GetSchema();                              // base GetOwner
    // The driver's table file over the definition, not yet opened; owned by the caller.
    virtual tGenericFile* NewISAMFile(tCommBuffer& reply,
                                      const std::shared_ptr<tTableDefinitionShared>& def,
                                      u32 lockOwner);
    // The query's rows as a read-only file owned by the caller; null when it cannot run.
    virtual tQueryFile* GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query);
    // The text prepared for repeated runs with bound parameters, as a query file.
    virtual tQueryFile* PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text);
    virtual bool DescribeTable(tTableDefinition& def);
    virtual bool DescribeIndexes(tTableDefinition& def);
    virtual bool AdjustFields(tTableDefinition& def);
    virtual bool SetRowCount(i16 rows);  // the row limit of the next key-cursor query
    virtual i16 GetRowCount();
    virtual bool IsQueryStmt(const char* sql);  // whether the text returns rows
    virtual void ReleaseChild(tDBConnection* child);
    virtual void ListTables(tString& sql);
    virtual bool IsDuplicateKey(i32 native);
    virtual bool IsUserError(i32 native);  // base: 50000 only
    virtual bool IsRecnoKeyError(const tTableDefinition& def);
    // Runs the procedure on a new statement; the outputs receive what it returns.
    virtual i16 ExecSP(const char* name, tArray<tDATAField>& inputs, tArray<tDATAField>& outputs);
    virtual bool ClearTable(const char* table);
    virtual bool PackTable(const char* table);
    virtual f64 GetRecCount(const char* table);  // the highest record number; base -1.0
    virtual f64 GetTableCount(const char* table, const char* condition);
    virtual bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel);
    virtual bool AlterStructure(const char* table, tArray<tActionField>& actions, u8 hasRecDel);
    virtual i16 UniqueKey(const char* table, const char* keys);
    virtual void DropIndex(tString& sql, const char* table, const char* index);
    virtual void IndexSpaceClause(tString& sql, u8 flag);
    virtual void BeginTran();
    virtual void EndTran();
    virtual void AbortTran();
    virtual bool RecnoAcceptNull(const char* table);
    virtual bool IsAutoRecno(const char* table);  // R_E_C_N_O_ is an identity column
    virtual bool DropTrigger(const char* trigger);
    virtual void LogAction(const char* first, const char* second);
    virtual i16 GetDBVersion();
    virtual void GetSessionID(tString& text);  // appends the database's id of the session
    virtual bool ExecInBlocks(const char* sql, const char* routine, f64 maxRecno, u8 hasCondition);
    virtual f64 GetInsertedRecno();  // base -1.0
    virtual bool IsConnectionLost();
    virtual i16 GetInfoString(u16 code, tString& out);  // base -1
    // Whether record numbers of the table come from an identity column: the key AutoRecno
    // followed by the table name, defaulting to the key AutoRecno (default 0).
    virtual bool UseAutoRecno(const char* table);
    virtual bool GetServerName(tString& out) = 0;
    virtual bool IsMemoAsBlob();
    // Appends value to sql as one string literal of the dialect; base: in single quotes, each
    // single quote doubled. Every client value put into SQL text goes through it.
    virtual void AppendLiteral(tString& sql, const char* value);

    // ---- Query files.
    // Runs a client's query on stmt and describes its result for a query file: C columns at
    // their bound length - 1, N columns as 15,8, columns of other types left out. Null when the
    // query fails (its error stays) or has no column (-19 under routine).
    std::unique_ptr<tTableDefinitionExclusive> DescribeQueryResult(tStatement& stmt,
                                                                   const tString& query,
                                                                   const char* routine);
    // The same as a plain query file that owns stmt, owned by the caller; null (stmt freed)
    // when the connection is down or as above.
    tQueryFile* NewQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query, const char* routine,
                             std::unique_ptr<tStatement> stmt);

    // ---- The field registry (GML_FIELD) and table drops; names are checked by the caller.
    // The GML_FIELD rows of the definition's N, L, D and M data fields, inserted in one
    // transaction; false (rolled back) when one insert failed.
    bool RegisterFields(const tTableDefinition& def);
    // The INSERT of one GML_FIELD row; every value goes in as a literal of the dialect.
    void BuildFieldInsert(tString& sql, const char* table, const tField& field);
    // Deletes the table's GML_FIELD rows in one transaction; false when the statement failed.
    bool UnregisterFields(const char* table);
    // "DROP TABLE " and the owner's prefix, on a statement of its own; the error under routine.
    bool DropTable(const char* table, const char* routine);

    // ---- Table definitions. LoadTableDef describes the table through the driver; on failure
    // the last error says why (code -19, routine "tDBServer::OpenFile") and nothing is returned.
    // The cache operations work on the process-wide table cache.
    std::unique_ptr<tTableDefinitionShared> LoadTableDef(const char* table,
                                                         const char* environment);
    std::shared_ptr<tTableDefinitionShared> FindTableDef(const char* table,
                                                         const char* environment);
    // The cached definition; with load set and none cached, a loaded one, then cached.
    std::shared_ptr<tTableDefinitionShared> GetTableDef(const char* table, const char* environment,
                                                        bool load);
    // Caches def and hands out the cached definition (an entry cached already wins).
    std::shared_ptr<tTableDefinitionShared> AddTableDef(std::unique_ptr<tTableDefinitionShared> def,
                                                        const char* environment);
    bool RemoveTableDef(const char* table, const char* environment);
    bool UpdateTableDef(const tTableDefinition& def, const char* environment);
    // Checks a join description (groups of three tokens separated by ";") and queues each
    // complete group for the next table file: result "0" when every group was complete, "1"
    // when a group lacks its second token, "2" when it lacks its third.
    void SetJoinInfo(const char* description, tString& result);

    // ---- The index-use trace and virtual indexes, over the catalogue tables GML_IDXSTATS and
    // GML_VIRTUALIDX. A failed statement never fails the caller.
    void TraceIndex(const tTableDefinition& def, const tIndexDefinition& index);
    void PrepareTraceIndex(const tTableDefinition& def);  // a use count of 0 for every index
    void LoadVirtualIndex(tTableDefinition& def);         // adds the table's virtual indexes
    bool IsVirtualIndex(const char* name);
    // Forgets the process's shared definition of GML_IDXSTATS, so that the next use describes
    // and counts the table again (tests start from a fresh database this way).
    static void ForgetIndexTraceDefinition();

    // ---- The session.
    void SetDBServer(tDBSession* session) { dbServer = session; }  // not owned
    tDBSession* GetDBServer() const { return dbServer; }
    void SetOpLog(bool on) { opLog = on; }
    bool IsOpLog() const { return opLog; }

    // ---- The last error. SetError makes the text "GML Error <code> - " + message and hands it
    // to LogError, so what LogError appends becomes part of what the client reads back. Both
    // return whether the log was written.
    bool SetError(i32 code, const char* routine, const char* message, tGenericFile* file);
    // Appends " ( From <routine> )\n" (routine not null) and the session's state to text, the
    // file's description when LogFull is on, then traces it and writes it to the log.
    bool LogError(tString& text, const char* routine, tGenericFile* file);
    bool LogLastError(const char* routine, tGenericFile* file);
    void AddServerInfo(tString& text);
    void AppendErrorText(const char* text) { lastError += text; }
    void ClearError();
    i32 GetLastErrorInfo(tString& out) const;

    // ---- Operation log lines on the console, with the session thread's id; nothing without a
    // session. Callers write them only while IsOpLog.
    void OpLogStmt(const char* routine, const char* statement);
    void OpLogMsg(const char* routine, const char* message);

    // ---- Identity and settings.
    const char* GetDBType() const { return dbType.GetText(); }
    const tString& GetAlias() const { return alias; }
    bool IsIsamAllowed() const { return isamAllowed; }
    bool IsReadOnly() const { return readOnly; }
    bool UsePreparedStmt() const { return preparedStmt; }
    bool IsIndexTraced() const { return indexTrace; }
    void SetTableOwner(const char* owner) { tableOwner = owner; }
    const tString& GetTableOwner() const { return tableOwner; }
    void SetUseSysTables(bool on) { useSysTables = on; }
    bool GetUseSysTables() const { return useSysTables; }
    void SetClobEnabled(bool on) { clobEnabled = on; }
    bool IsClobEnabled() const { return clobEnabled; }
    // The one growing buffer in which every ISAM file of the connection composes its SQL.
    tString& GetSqlBuffer() { return sqlBuffer; }

    // ---- Transactions. Commit control is the drivers' block between StrCmtCtl and EndCmtCtl;
    // the unit of work runs from BeginTran to AbortTran; the audit sequence numbers the units.
    bool InTransaction() const { return commitControl; }
    bool InUnitOfWork() const { return unitOfWork; }
    u32 GetAuditSeq() const { return auditSeq; }

    // ---- The join descriptions waiting for the next table file that the session opens.
    void AddJoinInfo(std::unique_ptr<tJoinInfo> join);
    std::unique_ptr<tAutoArray<tJoinInfo>> TakeJoinInfo();  // null when none waits

    GML_CLASS_ALLOCATOR(tDBConnection, Mem_DBConnection)

protected:
    // Whether a rebuild must keep the existing backup copy of the table: it holds more rows
    // than the table, or a count failed; it may then be the only full copy of a failed rebuild.
    // True with error -19 under routine.
    bool KeepsBackup(const char* table, const char* backup, const char* routine);
    // Keeps the parameter's value in the session's GML_PARAM row on stmt: the row is updated when
    // "SELECT <probe> FROM GML_PARAM" finds it, else inserted. session: the session's value as
    // SQL. Name and value go in as literals.
    bool WriteParamRow(tStatement& stmt, const char* probe, const char* name, const char* value,
                       const char* session, const char* routine, u8 report);

    // Constant after construction.
    const tString user;
    const tString password;
    const tString alias;
    const tString dbType;
    u8 indexTrace;
    u8 isamAllowed;
    u8 readOnly;
    u8 preparedStmt;
    // The session's thread only; the drivers keep these up to date.
    tDBSession* dbServer = nullptr;
    tString lastError;
    i32 lastErrorCode = 0;
    tString workText;  // a scratch text of the drivers
    u8 useSysTables = 1;
    u8 connected = 0;
    u8 commitControl = 0;
    u8 unitOfWork = 0;
    u8 linkLost = 0;
    u8 opLog = 0;
    u8 clobEnabled = 0;
    u32 auditSeq = 1;
    i16 rowLimit = 0;
    tString tableOwner;
    tMSTimer stmtTimer;
    tString traceLabel;
    tString sqlBuffer;
    char recnoText[kRecnoTextSize] = {};
    std::unique_ptr<tAutoArray<tJoinInfo>> pendingJoins;

private:
    void TraceLine(const char* text);
    // The catalogue check-up's steps.
    void ReportModes(tString& report);
    bool CheckCatalogTables();
    bool CreateCatalogTable(const tTableDefinition& def, const char* indexSql);
    bool CheckParamTable();
    bool CleanParamTable();
    void ResetIndexUse();
    // The shared definition of GML_IDXSTATS, described and counted on first use; null when
    // that failed.
    std::shared_ptr<tTableDefinitionShared> IndexTraceDefinition();
    bool InsertIndexUse(const tTableDefinition& def, const tIndexDefinition& index, u8 uses,
                        const char* routine);
    void AppendEnvLiteral(tString& sql);
    tString IndexKeyText(const tTableDefinition& def, const tIndexDefinition& index) const;
    bool AddVirtualIndex(tTableDefinition& def, const char* name, const char* key);
    // Table-definition loading.
    const char* DescribeForLoad(tTableDefinitionShared& def, const char* table,
                                const char* environment);
    tString FieldTableQuery(const tTableDefinition& def);
    bool SettleFieldWarnings(const tTableDefinition& def, bool fits, i32 numeric, i32 adjusted,
                             tString& warnings);
    bool KeyFieldList(const tTableDefinition& def, const char* terms, tString& key);
    bool AddRecDelColumn(const tTableDefinition& def, const char* table);
    // The record-lock engine of the session, or null without a session.
    tRecordLockEngine* LockEngine() const;
};

// One result column as the drivers bind it. Character columns point into the statement's row
// buffer; numbers are kept in place.
struct tColumnDesc {
    char name[129];
    u8 type;             // 'C' character, 'N' number, 'X' other
    i16 bufferLength;    // bytes of a character column's value buffer
    i16 decimals;        // the decimal digits the database describes
    i32 rowOffset;       // of the value in the row buffer
    i64 returnedLength;  // the driver's length indicator; below 1: NULL or empty
    i16 nullMarker;      // -1 marks a NULL number
    union {
        char* text;  // 'C'
        f64 number;  // 'N'
    } value;
};

// One SQL statement of a connection and, after a query, its result columns. Made by the
// connection's NewStatement and owned by whoever asked for it; the drivers do the work. Used by
// the connection's thread only. The base executes nothing: its executions answer false.
class tStatement {
public:
    explicit tStatement(tDBConnection* connection);  // opens nothing

    // ---- Virtual operations, in slot order.
    virtual ~tStatement();
    virtual void* GetHandle();  // base null
    virtual void Open(u8 scanEscapes);
    virtual void Close();
    virtual i32 GetRetCode();  // what HandleError gave for the last failure; 0 after success
    virtual bool Prepare(const char* sql, const char* routine);
    virtual bool IsOpened();
    virtual bool ExecRecnoStmt(const char* sql, f64 recno, const char* routine);
    virtual bool ExecSqlStmt(const char* routine);
    virtual bool ReleasePreparedStmt();
    // Binds the values (the statement owns them from here; null: those bound before) to the
    // prepared statement and executes it.
    virtual bool BindParam(std::unique_ptr<tAutoArray<tDATAField>> values);
    virtual bool ExecDirect(const char* sql, const char* routine, u8 report);
    virtual bool ExecWithRecno(const char* sql, f64 recno, const char* routine);
    virtual bool BindResult(u8 isQuery);
    virtual bool IsSelect(const char* sql);  // the connection's IsQueryStmt
    virtual bool GetBlob(const char* sql, void* buffer, i32& length);
    virtual bool ExecParam(const char* sql, const void* data, i32 length, i16 kind);
    virtual bool BindCols(i16 columnCount);
    virtual bool Fetch();
    virtual void FreeColumns();
    virtual void AllocColumns(i16 count);  // count zeroed descriptors and indicator bytes
    // The column's value as text: a character value, or a number written with "%.15g" (empty
    // for NULL). A missing value warns on the console and gives null (empty).
    virtual tString& FieldAsString(tString& out, i16 column);
    // The column's number (0.0 for NULL), or a character value read as a number.
    virtual f64 FieldAsDouble(i16 column);
    virtual char* FieldAsPChar(i16 column);
    virtual i16 SPExec(const char* name, const char* owner, tArray<tDATAField>& inputs,
                       tArray<tDATAField>& outputs);  // base -1
    virtual bool ExecSpecial(const char* sql, tArray<tBindParam>& params, const char* routine,
                             u8 report);

    tColumnDesc* GetColumns() const { return columns.get(); }
    i16 GetColumnCount() const { return columnCount; }
    void SetRetrieveData(u32 flag) { retrieveData = flag; }
    void SetOwnerFile(tGenericFile* file) { ownerFile = file; }  // not owned
    tGenericFile* GetOwnerFile() const { return ownerFile; }

    GML_CLASS_ALLOCATOR(tStatement, Mem_DBStatement)

protected:
    // The column's value as text, or null after the console warning naming the reader (the
    // method's name); see FieldAsString.
    char* ColumnText(i16 column, const char* reader);
    tColumnDesc& Column(i16 column);  // asserts outside the allocated descriptors

    tDBConnection* connection;  // not owned
    tGenericFile* ownerFile = nullptr;
    u8 bindColumns = 1;
    u8 opened = 0;
    i32 lastFailure = 0;
    std::unique_ptr<tColumnDesc[]> columns;
    std::unique_ptr<u8[]> indicators;
    i16 allocatedColumns = 0;
    AutoChar rowBuffer{__FILE__, __LINE__};
    i32 rowSize = 0;
    i16 columnCount = 0;
    u32 retrieveData = 1;
    char numberText[32] = {};  // where a number read as text is written
};

// Further database sessions that a driver connection keeps for work needing a second session.
// The pool owns them; the driver takes idle ones from the front and appends those given back,
// under the pool's lock.
class tConnectionPool : public tRWLock, public tAutoArray<tDBConnection> {
public:
    tConnectionPool();
    // Rolls back and ends the commit control of each connected member, then deletes it (its
    // own destructor disconnects). Runs on the owning connection's thread.
    ~tConnectionPool() override;
};
