// The client connection's start, its request loop with the receipt and the reply of each
// request, the open-file table and the traces.
//
// Request loop:
//  (1) A request is received whole before its handler runs: its length prefix lies within
//      kMinRequestLength..the largest frame and counts exactly the bytes of the request. Bytes
//      that arrived past it are the next requests' and wait in the frame buffer.
//  (2) A request whose handler found it malformed changes nothing and gets no reply: the
//      connection ends.
//  (3) Exactly one reply frame goes out per request served, in one send, except for
//      OP_DISCONNECT, which gets none.
#include "server/dispatch/dbserver.h"

#include <cstdio>
#include <ctime>

#include "lib_base/gmlassert.h"
#include "lib_base/misc.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kAuditTrail = "AuditTrail";  // the audit program: not counted, no audit
constexpr const char* kNotCountedPrefix = "@!!@";
constexpr i16 kDummyFirst = OP_LOCK;  // dummy mode answers these without running them
constexpr i16 kDummyLast = OP_LAST;
// Where the report of a file id outside the table says it failed, as support staff know it.
constexpr const char* kFileIdSource = "dbserver";
constexpr int kFileIdLine = 124;

tGMLGlobals& TheGlobals() {
    tGMLGlobals* globals = Globals();
    GML_ASSERT(globals != nullptr, "client connection without process globals");
    return *globals;
}

// Receives the pieces of a request from the connection's socket. The first piece is one
// receive that waits up to the idle wait (the socket's receive time-out) and takes the header
// with whatever of the body has arrived; a wait that runs out is reported as kIdle. Later pieces
// wait as the connection's pacing says, giving up when the peer is gone or the thread is asked
// to stop.
class tRequestSource : public tByteSource {
public:
    tRequestSource(tDBServer& conn, i32 waitSeconds) : conn(conn), waitSeconds(waitSeconds) {}

    i64 Receive(void* dst, u32 maxBytes, bool firstPiece) override {
        if (firstPiece) return ReceiveFirst(dst, maxBytes);
        for (;;) {
            const i32 got = conn.RecvTimeout(dst, static_cast<i32>(maxBytes), 0, waitSeconds);
            if (got > 0) return got;
            if (got < 0) return Failed("Thread (%u) disconnected prematurely! (%s)", kNext);
            if (!conn.IsConnected())
                return Failed("Thread (%u) communication failure! (%s)", kNext);
            if (conn.IsTerminated()) return 0;
        }
    }

private:
    static constexpr const char* kFirst = "RECEIVEBLOCK";
    static constexpr const char* kNext = "RECEIVENEXTBLOCK";

    i64 ReceiveFirst(void* dst, u32 maxBytes) {
        const i32 got = conn.Recv(dst, static_cast<i32>(maxBytes));
        if (got > 0) return got;
        if (got == 0) return Failed("Thread (%u) communication failure! (%s).", kFirst);
        if (conn.RecvTimedOut()) return kIdle;
        return Failed("Thread (%u) disconnected prematurely! (%s)", kFirst);
    }

    i64 Failed(const char* format, const char* where) {
        tString line;
        line.sprintf(format, conn.GetThreadId(), where);
        WriteLog(line, 0);
        return 0;
    }

    tDBServer& conn;
    const i32 waitSeconds;
};

}  // namespace

tDBServer::tDBServer() : currentOpcode(OP_NULL) {}

tDBServer::~tDBServer() = default;

// ---- start -------------------------------------------------------------------------------------

i32 tDBServer::Execute() {
    tString program;
    if (!ReadConnectStrings(program)) return RC_FAILED;
    const i32 started = StartConnection(program);
    if (started != 0) return started;
    return ServeRequests();
}

// The four texts after the connect packet's head. A packet without them ends the connection
// before anything is registered or counted.
bool tDBServer::ReadConnectStrings(tString& program) {
    tCommBuffer& in = *GetCommBuffer();
    tString userName;
    tString computerName;
    in.GetString(environment);
    in.GetString(program);
    in.GetString(userName);
    in.GetString(computerName);
    if (in.IsMalformed()) {
        tString address;
        GetAddressText(address);
        ConsolePrintf("[WARNING] Unknown Client Connection from [%s]. (CLOSED)\n",
                      address.GetText());
        return false;
    }
    in.Reset();
    SetClientNames(userName, computerName);
    if (program.GetLength() == 0) program = "Unknown";
    return true;
}

i32 tDBServer::StartConnection(const tString& program) {
    tGMLGlobals& globals = TheGlobals();
    timer.Start();
    Register();
    StartStatus(program);
    if (program == kAuditTrail) userConnection = false;
    if (environment.Find(kNotCountedPrefix) == 0) {
        userConnection = false;
        environment.Delete(0, 4);
    }
    tString address;
    GetAddressText(address);
    ConsolePrintf("Begin GmlClient Thread (%u,%s,%s,%s,%s,%s)\n", GetThreadId(), address.GetText(),
                  environment.GetText(), program.GetText(), GetUserName().GetText(),
                  GetComputerName().GetText());
    properties->SetStarted();
    if (!globals.IsConnectionEnabled()) return Refuse(RC_CONNECTIONS_DISABLED, "NO_CONN_ALLOWED");
    CountUser(userConnection);
    ReadSettings();
    if (globals.GetServerMode() == kModeSlave && ConnectMaster() != RC_OK) {
        return Refuse(RC_MASTER_UNREACHABLE, "DBSERVER_INITERROR");
    }
    properties->SetStatus("CONN");
    timer.Start();
    const i16 code = ConnectToDB(program != kAuditTrail);
    if (code != 0) {
        ConsolePrintf("Exit GmlClient Thread (%u) [ERROR %i]\n", GetThreadId(), code);
        return code;
    }
    ConnectedStatus();
    return 0;
}

// Registers the connection and makes its key: the client's address, the date and time of day
// as 14 digits, and the thread id as 12.
void tDBServer::Register() {
    tGMLGlobals& globals = TheGlobals();
    // Made before stateLock is taken: Terminate may hold stateLock while it reads the record.
    tDBProperties* record = globals.GetThreads()->AddThread(GetCommBuffer());
    {
        tWaiting hold(&stateLock, __FILE__, __LINE__);
        properties = record;
    }
    tString address;
    GetAddressText(address);
    properties->SetIP(address);
    std::tm now{};
    LocalTimeOf(CurrentTime(), now);
    connectionKey.sprintf("%s%04i%02i%02i%02i%02i%02i%012u", address.GetText(), now.tm_year + 1900,
                          now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec,
                          GetThreadId());
    threadInfo = globals.GetThreadInfo();
    profiling = globals.GetGlbProfiler();
}

void tDBServer::StartStatus(const tString& program) {
    if (threadInfo) properties->SetStatus("BEGIN");
    if (profiling) properties->SetTraceFlag(1);
    properties->SetSID(GetThreadId());
    properties->SetUser(program);
}

// Replies the code alone and ends the connection before the database connect.
i32 tDBServer::Refuse(i16 code, const char* reason) {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutReturnCode(code);
    SendReply();
    ConsolePrintf("Exit GmlClient Thread (%u) [%s]\n", GetThreadId(), reason);
    return code;
}

void tDBServer::ReadSettings() {
    tConfigCache& config = *TheGlobals().GetConfig();
    const i32 chunk = config.GetInt(kGeneral, "MaxPacketLen", kDefaultPacketLen);
    // A chunk that cannot hold a request's head, or exceeds the largest frame, is no setting.
    const bool usable = chunk >= static_cast<i32>(kMinRequestLength) &&
                        static_cast<u32>(chunk) <= tCommBuffer::kMaxFrameLength;
    packetLen = usable ? chunk : kDefaultPacketLen;
    audit.log = config.GetBool(kGeneral, "AuditLog", 0);
    if (audit.log) {
        audit.sqlExec = config.GetBool(kGeneral, "AuditSqlExec", 1);
        audit.procExec = config.GetBool(kGeneral, "AuditProcExec", 1);
        audit.threadComment = config.GetBool(kGeneral, "AuditThreadComment", 1);
        audit.erpUserName = config.GetBool(kGeneral, "AuditERPUserName", 1);
        const i32 port = config.GetInt(kGeneral, "AuditPort", kDefaultAuditPort);
        audit.level = static_cast<i16>(config.GetInt(kGeneral, "AuditLevel", 1));
        auditClient = NewAuditClient(static_cast<u16>(port));
    }
    traceLog = config.GetBool(kGeneral, "UseTraceLog", 0);
}

void tDBServer::ConnectedStatus() {
    tString sessionId;
    connection->GetSessionID(sessionId);
    properties->SetDBSID(sessionId);
    tString database(dbType);
    database += "/";
    database += environment;
    properties->SetDBEnv(database);
    properties->SetObs("");
    connection->BeginTran();
    if (profiling) properties->AddCall(OP_CONNSETUP, timer.Elapsed(false));
    if (!threadInfo) properties->SetStatus(nullptr);
}

// ---- the request loop --------------------------------------------------------------------------

i32 tDBServer::ServeRequests() {
    // The first receive of each request waits for it: one call while requests keep coming.
    SetRecvTimeout(pacing.idleWaitSeconds > 0 ? pacing.idleWaitSeconds * 1000 : 1);
    for (;;) {
        if (IsTerminated()) return EndWith("EXIT", "Exit", " [TERMINATED]", true);
        if (connection->IsConnectionLost()) {
            return EndWith("CLOSED", "SGDB Disconnect", "", false);
        }
        SetStatus("IDLE");
        profiling = properties->GetTraceFlag();
        const tReceiveStatus received = ReceiveRequest();
        if (received == tReceiveStatus::Received) {
            const tPass pass = ServeRequest();
            if (pass == tPass::End) return 1;
            if (pass == tPass::Exit || IsMasterLinkLost()) {
                return EndWith("EXIT", "Exit", " [TERMINATED]", true);
            }
        } else if (received != tReceiveStatus::Idle) {
            return EndWith("EXIT", "Exit", " [TERMINATED]", true);
        } else if (!IsConnected()) {
            tString line;
            line.sprintf("Thread (%u) communication failure! (WAITFORRECEIVE)", GetThreadId());
            WriteLog(line, 0);
            return EndWith("EXIT", "Exit", " [TERMINATED]", true);
        } else if (connection->UsePreparedStmt()) {
            ReleaseIdleStatements();
        }
        currentOpcode = OP_NULL;
    }
}

// The request is in the buffer (1).
tDBServer::tPass tDBServer::ServeRequest() {
    tCommBuffer& buffer = *GetCommBuffer();
    timer.Start();
    buffer.GetShort(currentOpcode);  // (1): at least the opcode arrived
    properties->AddIO();
    SetOpcodeStatus('R');
    if (dummyMode && currentOpcode >= kDummyFirst && currentOpcode <= kDummyLast) {
        buffer.Reset();
        buffer.PutReturnCode(RC_NO_RECORD);
        if (threadInfo) {
            ConsolePrintf("[INFO] GmlClient Thread (%u) DUMMY_MODE OPERATION [%s] IGNORED.\n",
                          GetThreadId(), OpcodeName(currentOpcode));
        }
    } else if (currentOpcode == OP_DISCONNECT) {
        EndWith("END", "End", "", true);
        return tPass::End;  // (3)
    } else {
        if (IsOpLogOn()) {
            operation.opcode = currentOpcode;
            operation.timer.Start();
            operation.details.Clear();
        }
        Dispatch();
        if (buffer.IsMalformed()) {  // (2)
            tString line;
            line.sprintf("Thread (%u) malformed request %s! (DISPATCH)", GetThreadId(),
                         OpcodeName(currentOpcode));
            WriteLog(line, 0);
            return tPass::Exit;
        }
        if (IsOpLogOn()) WriteOpLog();
    }
    SetOpcodeStatus('S');
    if (profiling) properties->AddCall(currentOpcode, timer.Elapsed(true));
    if (!SendReply()) {
        tString line;
        line.sprintf("Thread (%u) communication failure! (SEND)", GetThreadId());
        WriteLog(line, 0);
        return tPass::Exit;
    }
    return tPass::Next;
}

bool tDBServer::ReceiveBlock() {
    for (;;) {
        const tReceiveStatus status = ReceiveRequest();
        if (status == tReceiveStatus::Received) return true;
        if (status != tReceiveStatus::Idle || IsTerminated() || !IsConnected()) return false;
    }
}

tReceiveStatus tDBServer::ReceiveRequest() {
    tCommBuffer& buffer = *GetCommBuffer();
    tRequestSource source(*this, pacing.receiveWaitSeconds);
    const tReceiveStatus status =
        buffer.ReceiveFrame(source, static_cast<u32>(packetLen), kMinRequestLength);
    if (status == tReceiveStatus::BadLength) {
        tString line;
        line.sprintf("Thread (%u) invalid request length %u! (RECEIVEBLOCK)", GetThreadId(),
                     buffer.ReadHeaderLength());
        WriteLog(line, 0);
    }
    return status;
}

// The whole frame in one send (3).
bool tDBServer::SendReply() {
    tCommBuffer& buffer = *GetCommBuffer();
    const u8* frame = buffer.GetFrame();
    const i32 length = static_cast<i32>(buffer.GetFrameLength());
    return Send(frame, length, 0) == length;
}

void tDBServer::ReleaseIdleStatements() {
    for (i32 i = 0; i < openFiles.Count(); ++i) {
        if (tGenericFile* file = openFiles.Get(i)) file->ReleaseRecnoStmt();
    }
}

void tDBServer::SetStatus(const char* word) {
    if (threadInfo) properties->SetStatus(word);
}

void tDBServer::SetOpcodeStatus(char prefix) {
    if (!threadInfo) return;
    char word[40];
    std::snprintf(word, sizeof word, "%c%s", prefix, OpcodeName(currentOpcode));
    properties->SetStatus(word);
}

// Sets the status word (always), writes the end line to the console and, when asked and
// traced, to the trace; 1.
i32 tDBServer::EndWith(const char* status, const char* head, const char* tail, bool traced) {
    properties->SetStatus(status);
    const tString line = EndLine(head, tail);
    ConsolePrintf("%s", line.GetText());
    if (traced && IsTraceOn()) {
        tString text("-- ");
        text += line;
        Trace("tDBServer::Execute", timer.Elapsed(false), text);
    }
    return 1;
}

tString tDBServer::EndLine(const char* head, const char* tail) {
    char received[48];
    char sent[48];
    const tCommBuffer& buffer = *GetCommBuffer();
    FormatByteSize(buffer.GetTotalRead(), received, sizeof received);
    FormatByteSize(buffer.GetTotalWritten(), sent, sizeof sent);
    const bool open = connection && connection->InTransaction();
    tString line;
    line.sprintf("%s GmlClient Thread (%u)%s (IOs %s / RCV %s / SND %s ) %s\n", head, GetThreadId(),
                 tail, UIntToStr(properties->GetIO()).GetText(), received, sent,
                 open ? "[WARNING] Exit with active transaction." : "");
    return line;
}

// ---- the operation log and traces --------------------------------------------------------------

void tDBServer::WriteOpLog() {
    if (!traceLog) return;
    const f64 ms = operation.timer.Elapsed(false) * 1000.0;
    ConsolePrintf("[OPLOG] ThreadID: %u\tOp: %s \tRet %i\tElapsed time: %6.4f ms\tDetails: %s\n",
                  GetThreadId(), OpcodeName(operation.opcode), GetCommBuffer()->GetReturnCode(), ms,
                  operation.details.GetLength() ? operation.details.GetText() : "(NONE)");
}

bool tDBServer::IsTraceOn() { return properties && properties->IsTraceOn(); }

void tDBServer::Trace(const char* label, f64 elapsed, const char* text) {
    if (properties) properties->GetTrace()->Add(label, elapsed, text);
}

i32 tDBServer::GetTraceCount() { return properties ? properties->GetTrace()->Count() : 0; }

void tDBServer::TraceHandler(const char* handler, const char* text) {
    tString line("-- ");
    line += text;
    if (IsTraceOn()) {
        tString routine("tDBServer::");
        routine += handler;
        Trace(routine, 0.0, line);
    }
    if (IsOpLogOn()) operation.details += line;
}

void tDBServer::DescribeThread(tString& text, bool withStatement) {
    if (properties) properties->DescribeThread(text, withStatement);
}

void tDBServer::SetLastStatement(const char* routine, const char* sql) {
    if (properties) properties->SetLastStatement(sql, routine);
}

void tDBServer::ClearLastStatement() {
    if (properties) properties->ClearLastStatement();
}

// ---- open files --------------------------------------------------------------------------------

tGenericFile* tDBServer::GetFile(i16 id) {
    // An id the table never gave out is the caller's fault: handlers check ids they read.
    if (id < 1 || id > openFiles.Count()) {
        DoAssert(kFileIdSource, kFileIdLine, "file id out of range", 0);
    }
    return openFiles.Get(id - 1);
}

tGenericFile* tDBServer::FindOpenFile(i16 id) {
    return id >= 1 && id <= openFiles.Count() ? openFiles.Get(id - 1) : nullptr;
}

tGenericFile* tDBServer::GetFileOrReply(i16 id) {
    tGenericFile* file = GetFile(id);
    if (!file) GetCommBuffer()->PutReturnCode(RC_NO_OPEN_FILE);
    return file;
}

i16 tDBServer::GetFreeFileId() {
    for (i32 i = 0; i < openFiles.Count(); ++i) {
        if (!openFiles.Get(i)) return static_cast<i16>(i + 1);
    }
    openFiles.Add(nullptr);
    return static_cast<i16>(openFiles.Count());
}

void tDBServer::SetFile(i16 id, std::unique_ptr<tGenericFile> file) {
    GML_ASSERT(GetFile(id) == nullptr, "file id already in use");
    openFiles.GetData()[id - 1] = file.release();
}

std::unique_ptr<tGenericFile> tDBServer::TakeFile(i16 id) {
    std::unique_ptr<tGenericFile> file(GetFile(id));
    openFiles.GetData()[id - 1] = nullptr;
    return file;
}
