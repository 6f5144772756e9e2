// tDBServer: the server's object for an application's connection (kind '0'). It reads the rest of
// the connect packet, connects the database the client names, serves the client's requests one
// by one through the dispatch table until the client leaves, and releases all it held at the end.
#pragma once
#include <atomic>
#include <memory>

#include "lib_base/critsec.h"
#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/mstimer.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "lib_common/commbuffer.h"
#include "server/dispatch/auditclient.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlsockconn.h"

class tActionField;
class tDBConnection;
class tDATAField;
class tDBProperties;
class tField;
class tGenericFile;
class tNamedNode;
class tRecordLockEngine;
class tStatement;
class tTableDefinition;
class tVirtualLockEngine;

// How long the request loop waits; tests shorten it.
struct tDBServerPacing {
    i32 idleWaitSeconds = 30;     // for the next request; then idle files release statements
    i32 receiveWaitSeconds = 10;  // for each later piece of a request, before the links are tested
};

// The audit switches of a client connection, read at its start from [General].
struct tAuditSettings {
    u8 log = 0;  // AuditLog: audit records are written at all
    u8 sqlExec = 1;
    u8 procExec = 1;
    u8 threadComment = 1;
    u8 erpUserName = 1;
    i16 level = 1;
};

// Made by acceptance for a connect packet of kind '0', which runs Execute on the worker that
// accepted the socket, then Done, then deletes it. Everything runs on that worker thread except
// Terminate (a monitor's kill, or the stop of the worker) and the thread queries of the base.
//
// Handlers: one member function per opcode, named in the dispatch table (dbserver_dispatch.cpp).
// A handler reads all its arguments from GetCommBuffer(), returns at once when the frame is
// malformed (the loop then ends the connection without a reply), resets the buffer, does the
// work and writes its reply, return code first. The loop sends the reply.
class tDBServer : public tGMLSockConn, public tDBSession {
public:
    static constexpr i32 kDefaultPacketLen = 8192;
    static constexpr i32 kDefaultAuditPort = 7891;
    static constexpr u32 kMinRequestLength = 6;  // the length prefix and the opcode

    tDBServer();
    ~tDBServer() override;  // deletes the open files, then the database connection

    // ---- Thread side.
    i32 GetThreadType() override { return kThreadTypeGenServer; }
    // The connection's whole life: 1 after a normal end, -36 when connections are disabled,
    // -43 when the master lock server is out of reach, -19 when the connect packet lacks its
    // texts, else the database connect's code.
    i32 Execute() override;
    const char* GetClassName() override { return "tDBServer"; }
    bool CanKill() override { return true; }
    tString GetClientComputer() override { return GetComputerName(); }
    tString GetClientUser() override { return GetUserName(); }
    // Stops the connection from another thread: releases its locks and user count at once and
    // asks the request loop to leave. A second call only warns.
    void Terminate(u8 force) override;
    // The end: status, the release of locks and count, the open files, the database connection
    // (rolled back when inside a transaction), the audit handle and the registry record.
    bool Done() override;
    void DoShowException() override;  // the report of an exception that ended Execute

    // ---- The session as the database side sees it.
    bool IsTraceOn() override;
    void Trace(const char* label, f64 elapsed, const char* text) override;
    void DescribeThread(tString& text, bool withStatement) override;
    void SetLastStatement(const char* routine, const char* sql) override;
    void ClearLastStatement() override;
    // The connection's lock engines (not owned): a slave's lock clients at its master, else the
    // process's lock servers.
    tRecordLockEngine* GetRecordLockEngine() override;
    // Sends one record to the audit server; its result (0 success), or -2 without a handle.
    i16 WriteAudit(const char* action, const char* table, f64 recno, const char* detail1,
                   const char* detail2, const char* extra) override;
    u32 GetThreadId() override { return tThreadBase::GetThreadId(); }
    bool IsRunning() override { return tThreadBase::IsRunning(); }
    tVirtualLockEngine* GetVirtualLockEngine();

    // ---- The request loop's parts.
    // One whole request, waiting through idle waits; false when the connection must end.
    bool ReceiveBlock();
    // One whole request, or Idle when none began within the idle wait; any other status ends
    // the connection (its reason is logged).
    tReceiveStatus ReceiveRequest();
    void Dispatch();  // the handler of the current opcode, or the echo of the request
    static bool Serves(i16 opcode);  // the dispatch table has a handler for the opcode
    void SetPacing(const tDBServerPacing& newPacing) { pacing = newPacing; }  // before Execute

    // ---- Open files. Ids run from 1; a free id holds no file.
    // The file of the id, null for a free id; an id outside the table is an assertion.
    tGenericFile* GetFile(i16 id);
    tGenericFile* FindOpenFile(i16 id) override;  // null outside the table too
    // The file of the id for a handler that has read its arguments and reset the buffer; null,
    // with the reply -10 written, for a free id.
    tGenericFile* GetFileOrReply(i16 id);
    // The lowest free id; when none is free the table grows by one free id.
    i16 GetFreeFileId();
    void SetFile(i16 id, std::unique_ptr<tGenericFile> file);  // id from GetFreeFileId
    std::unique_ptr<tGenericFile> TakeFile(i16 id);            // the id becomes free
    i32 GetFileCount() const { return openFiles.Count(); }

    // ---- Traces and the operation log.
    bool IsOpLogOn() const { return traceLog || threadInfo; }
    void WriteOpLog();
    i32 GetTraceCount();  // trace lines that the monitor has not fetched yet
    // Whether a handler's trace text is wanted at all: traced, or the operation log on.
    bool IsHandlerTraced() { return IsTraceOn() || IsOpLogOn(); }
    // A handler's trace: "-- " + text under "tDBServer::" + handler, elapsed 0, when traced; the
    // same line goes into the current operation's details when the operation log is on.
    void TraceHandler(const char* handler, const char* text);

    // ---- The database connect and what it sets.
    // Connects the database that the environment names and sends the connect reply: 0 when the
    // connection is up, else -35 (after an audit refusal too, whose reply is -50).
    i16 ConnectToDB(bool auditWanted);
    tDBConnection* GetDBConnection() const { return connection.get(); }  // owned; may be null
    const tString& GetDBType() const { return dbType; }
    const tString& GetEnvironment() const { return environment; }  // the alias once connected
    const tString& GetConnectionKey() const { return connectionKey; }
    bool IsLogAction() const { return logAction != 0; }
    tDBProperties* GetProperties() const { return properties; }  // the registry's; may be null
    i16 GetCurrentOpcode() const { return currentOpcode; }
    void SetDummyMode(bool on) { dummyMode = on; }
    bool IsDummyMode() const { return dummyMode; }

    // ---- Audit.
    tAuditClient* GetAuditClient() const { return auditClient.get(); }  // owned; may be null
    const tAuditSettings& GetAuditSettings() const { return audit; }
    tAuditCustomFieldList& GetAuditCustomFields() { return customFields; }
    // The connection key and the audit sequence number ("%s%09u"); valid until the next call.
    const char* GetAuditId();
    // False, with the connection's error set (-19), when a transaction is open: table
    // structure may not change inside one.
    bool CheckTransaction(const char* routine, const char* table);

    // ---- Reports for internal calls, appended to out.
    i16 GetThreadList(tString& out);  // the number of connections listed
    i16 GetThreadObs(tString& out);   // the number of connections listed
    i16 GetSystemReport(tString& out);
    i16 GetSummary(tString& out);

    // ---- Record locks. The owner information (application user, "|", thread comment) goes to
    // the record-lock engine before the first lock and again after each change of the comment.
    void SetOwnerInfoPending() { ownerInfoPending = true; }
    // The holder of the last refused lock, or why a read-only connection refused it.
    const tString& GetLockText() const { return lockText; }

    // ---- Handlers.
    void GetSID();  // OP_GETSID: the session id as a bare i32
    void Build();   // OP_BUILD: the build number as a bare text

    // ---- Tables, queries and session requests (dbserver_create.cpp, dbserver_query.cpp,
    // dbserver_session.cpp).
    // The named node that serialises opening, creating, dropping and indexing one table of the
    // connection's alias. Alias and table are upper-cased, so every spelling of a name meets
    // the same node. Owned by the process's named-lock registry.
    tNamedNode* GetTableNode(const char* table);
    // Appends text to the current operation's details when the operation log is on.
    void AddDetails(const char* text);
    // Registers this connection's exclusive opening of the cached table; false while any
    // connection has it open.
    bool TakeSoleOpening(const tTableDefinition& cached);
    // After a drop under the routine: the sole opening given back, the record counter reset
    // when the table went, the cached definition removed; false, with the error set, when it
    // was no longer cached.
    bool ForgetDroppedTable(const char* table, const tTableDefinition& cached, bool dropped,
                            const char* routine);
    // The open of GML_FILES: the database's table list as a query file. Called by the open
    // handler after it has read its arguments and reset the buffer; writes the whole reply.
    void Catalog();
    // While on, a direct "DELETE FROM" first marks the rows it names as deleted.
    void SetDeleteMarking(bool on) { deleteMarking = on; }
    void CreateFile();   // OP_CREATEFILE
    void DeleteFile();   // OP_DELETEFILE
    void OpenQuery();    // OP_QUERY
    void CreateIndex();  // OP_CREATEINDEX
    void Pack();         // OP_PACK
    void Clear();        // OP_CLEAR
    void GetError();     // OP_GETERROR: the last error's code made positive, then its text
    void SQLExec();      // OP_SQLEXEC
    void SetParam();     // OP_SETPARAM
    void SqlFree();      // OP_SQLFREE
    void SPExec();       // OP_SPEXEC
    void SqlPrepare();   // OP_SQLPREPARE
    void SqlBind();      // OP_SQLBIND
    void BlobRead();     // OP_BLOBREAD
    void BlobWrite();    // OP_BLOBWRITE
    // Decodes count typed values of the request into params: 0; -19 with nothing kept for a
    // refused count or value; a value past the request marks the frame malformed.
    i16 DecodeParams(tAutoArray<tDATAField>& params, i16 count);
    void GetDBSID();  // OP_GETDBSID: the database's session id as a bare string
    // OP_INTERNALF: a sub-code and an optional text; the reply is one string, no return code
    // (dbserver_internal.cpp).
    void InternalCall();

    // ---- Table structure changed while served: refresh, unique keys and index services,
    // alteration (dbserver_refresh.cpp, dbserver_unique.cpp, dbserver_alter.cpp). Each runs
    // under the table's named node. Table and index names are checked as identifiers first: any
    // other name is an unknown object and reaches no SQL.
    void RefreshFile();  // OP_REFRESHFILE: always 0
    void UniqueKey();    // OP_UNIQUE
    void AlterFile();    // OP_ALTERFILE
    // Loads the table's definition from the database into its cache entry, in place, so that
    // open files keep the definition they share: 0, or -19 when the database gives none.
    i16 ReloadTableDef(const char* table);
    // The index services; false on failure, with the connection's error set where the cause is
    // known. DropIndex takes "table|index", IsIndexReverse "table.index".
    bool DropIndexes(const char* table);
    bool DropIndex(const char* tableAndIndex);
    bool IsIndexReverse(const char* tableAndIndex);
    // The columns of the table's unique key ("<table>_unq") but its last, joined by "+"; "" when
    // there is no such table or key.
    tString GetUniqueKeyFields(const char* table);
    // Logs the warning for a table named with the reserved "_BKP" after its first character.
    void WarnReservedSuffix(const char* table, const char* routine);

    // ---- Handlers: transactions, record changes, locks, the order and the field map
    // (dbserver_tran.cpp, dbserver_write.cpp, dbserver_lock.cpp, dbserver_order.cpp).
    void StrCmtCtl();    // OP_STRCMTCTL
    void EndCmtCtl();    // OP_ENDCMTCTL
    void Commit();       // OP_COMMIT
    void Rollback();     // OP_ROLLBACK
    void Write();        // OP_WRITE
    void Update();       // OP_UPDATE
    void Delete();       // OP_DELETE
    void Recall();       // OP_RECALL
    void Lock();         // OP_LOCK
    void Unlock();       // OP_UNLOCK
    void SetKey();       // OP_SETKEY
    void SetDeleOn();    // OP_SETDELEON
    void SrvMap();       // OP_SETFIELDMAP
    void SetFilter();    // OP_FILTER
    void SetFilterEx();  // OP_FILTEREX

    // ---- Handlers: tables opened and closed, navigation and seek, probes and dummy mode
    // (dbserver_open.cpp, dbserver_nav.cpp, dbserver_probe.cpp).
    void OpenFile();   // OP_OPEN
    void CloseFile();  // OP_CLOSE
    void JustClose();  // OP_JUSTCLOSE
    void GoTo();       // OP_GO
    void First();      // OP_FIRST
    void Last();       // OP_LAST
    void Skip();       // OP_SKIP
    void Seek();       // OP_SEEK
    void CanOpen();    // OP_CANOPEN
    void SPExist();    // OP_SPEXIST
    void SetDummy();   // OP_SETDUMMY

    GML_CLASS_ALLOCATOR(tDBServer, Mem_DBServer)

private:
    enum class tPass { Next, End, Exit };

    bool ReadConnectStrings(tString& program);
    void Register();
    void StartStatus(const tString& program);
    i32 StartConnection(const tString& program);
    i32 Refuse(i16 code, const char* reason);
    void ReadSettings();
    void ConnectedStatus();
    i32 ServeRequests();
    tPass ServeRequest();
    void ReleaseIdleStatements();
    bool SendReply();
    void SetStatus(const char* word);
    void SetOpcodeStatus(char prefix);
    i32 EndWith(const char* status, const char* head, const char* tail, bool traced);
    tString EndLine(const char* head, const char* tail);
    void ServerTrace(const char* routine, f64 elapsed, const char* text);

    // dbserver_master.cpp
    i16 ConnectMaster();      // a slave's lock clients at its master; 0 or the last failure
    void ReleaseMaster();     // deletes the lock clients and lets the master link go
    bool IsMasterLinkLost();  // a slave whose link to its master broke, logged

    // dbserver_connect.cpp
    bool SplitEnvironment();
    i16 CreateConnection(const char* dbType);
    i16 CheckUpAndAudit(i32 environmentState, i16 code, bool auditWanted);
    i16 ConnectAudit();
    i16 ConnectReply(i16 code);

    // dbserver_query.cpp
    void StoreQueryFile(i16 id, std::unique_ptr<tGenericFile> file);
    i16 DirectDrop(tStatement& stmt, const tString& statement);
    // The procedure's code, or its results, as the reply; the outcome appended to callText.
    void ReplyProcResults(i16 code, tAutoArray<tDATAField>& results, tString& callText);

    // dbserver_alter.cpp
    bool CanAlter(const tString& table);  // false, with the refusal as the connection's error
    i16 AlterTableLocked(const char* table, const tArray<tActionField>& oldColumns,
                         const tArray<tActionField>& newColumns);

    // dbserver_tran.cpp
    void EndTransactionRequest(i16 code, const char* auditKind, const char* text,
                               const char* routine);
    // dbserver_write.cpp
    void MarkRecord(bool deleting);
    // dbserver_internal.cpp
    void RunInternalCall(u8 subcode, bool hasParameter, const tString& parameter, tString& reply);
    void SetThreadComment(const tString& parameter);
    void MemoStorage(tString& reply);
    void SetCustomAuditField(const tString& parameter, tString& reply);
    bool VirtualLock(bool hasParameter, const tString& key);
    void DirectRecordUnlock(const tString& parameter, tString& reply);
    void RunTestHook(const tString& keyword);
    // dbserver_lock.cpp
    void SendOwnerInfo();
    tGenericFile* ReadLockRequest(u8& wholeTable, i32& recno);

    // The prologue of a request on an open file: reads the file id, then each argument in
    // order (i16, i32, u8, f64 or tString), and resets the buffer for the reply. The file (not
    // owned: the open-file table keeps it), or null when the request is malformed (nothing
    // written: the request loop ends the connection) or the id is free (-10 written).
    template <typename... Args>
    tGenericFile* ReadFileRequest(i16& id, Args&... args) {
        tCommBuffer& in = *GetCommBuffer();
        in.GetShort(id);
        (ReadArgument(in, args), ...);
        if (in.IsMalformed()) return nullptr;
        in.Reset();
        return GetFileOrReply(id);
    }
    static void ReadArgument(tCommBuffer& in, i16& value) { in.GetShort(value); }
    static void ReadArgument(tCommBuffer& in, i32& value) { in.GetLong(value); }
    static void ReadArgument(tCommBuffer& in, u8& value) { in.GetByte(value); }
    static void ReadArgument(tCommBuffer& in, f64& value) { in.GetDouble(value); }
    static void ReadArgument(tCommBuffer& in, tString& value) { in.GetString(value); }

    // dbserver_open.cpp, dbserver_nav.cpp
    void ReleaseFile(tGenericFile& file, bool warn);
    void MoveToEnd(bool top);

    // dbserver_end.cpp
    void CountUser(bool user);
    void UncountOnce();
    void ReleaseLocks(const tString& lockEnv);
    tString LockEnvironment();
    void CloseFiles();
    void EndDatabase();
    void EndProperties();
    tString DescribeForConsole();

    // Constant after construction, or set once before the request loop.
    tDBServerPacing pacing;
    // Set and cleared by the connection's thread under stateLock; read there by Terminate, on
    // its own thread, and by the connection's thread without the lock.
    tCriticalSection stateLock;
    tDBProperties* properties = nullptr;  // owned by the registry until Done removes it
    tString lockEnvironment;              // the alias, for the release of virtual locks
    // Shared with Terminate.
    std::atomic<bool> terminateCalled{false};
    // 0 not counted yet, 1 counted, 2 uncounted: whoever moves 1 to 2 uncounts, once.
    std::atomic<u8> countState{0};
    std::atomic<bool> userConnection{true};  // counted as a user, not only as a connection
    // The connection's thread only.
    tString dbType;
    tString environment;
    tString user;
    tString password;
    tString connectionKey;
    tString auditId;
    std::unique_ptr<tDBConnection> connection;
    tAutoArray<tGenericFile> openFiles;  // element i holds the file of id i + 1
    std::unique_ptr<tAuditClient> auditClient;
    // A slave's link to its master, and the lock engines over it; none otherwise.
    u32 masterLock = 0;
    std::unique_ptr<tRecordLockEngine> recordLockClient;
    std::unique_ptr<tVirtualLockEngine> virtualLockClient;
    tAuditCustomFieldList customFields;
    tAuditSettings audit;
    tMSTimer timer;  // connect and request times
    struct {
        i16 opcode = 0;
        tMSTimer timer;
        tString details;
    } operation;  // the operation log's record of the request under work
    i32 packetLen = kDefaultPacketLen;
    i16 currentOpcode;
    bool dummyMode = false;
    bool deleteMarking = false;
    u8 logAction = 0;
    u8 traceLog = 0;
    u8 threadInfo = 0;
    u8 profiling = 0;
    bool ownerInfoPending = true;
    tString lockText;
    tString virtualLockText;  // the holder of the last refused named lock, or why it was refused
    tString filterMessage;    // what the file said of the last extended filter's expression
};
