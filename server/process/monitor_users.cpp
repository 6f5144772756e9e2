// The monitor's operations on the other connections: the user list, ending a client's connection,
// the record-lock list, enabling new connections, the build, and the traces of one connection.
#include <algorithm>
#include <limits>

#include "lib_base/critsec.h"
#include "lib_base/threads.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "server/locks/lockengine.h"
#include "server/process/gmlserver.h"
#include "server/process/monitor.h"
#include "server/process/pellmar.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"

namespace {

// Decimal digits only, after the blanks around them are dropped; anything else, or a number
// beyond 32 bits, names no thread (0).
u32 ParseThreadId(tString text) {
    text.Trim();
    if (text.GetLength() == 0) return 0;
    u64 id = 0;
    for (const char* p = text.GetText(); *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        id = id * 10 + static_cast<u64>(*p - '0');
        if (id > std::numeric_limits<u32>::max()) return 0;
    }
    return static_cast<u32>(id);
}

struct tKillRequest {
    u32 threadId;
    bool found = false;
};

// Runs with the thread's node in the thread list locked, so the worker cannot be deleted; the
// worker's connection lock then keeps its connection from being ended and deleted meanwhile.
void KillVisitor(tThread* thread, void* arg, i32*) {
    auto& request = *static_cast<tKillRequest*>(arg);
    if (request.found || thread->GetThreadId() != request.threadId || !thread->CanKill()) return;
    auto* worker = dynamic_cast<tWThread*>(thread);
    if (!worker) return;
    request.found = true;
    tWaiting hold(&worker->GetConnectionLock(), __FILE__, __LINE__);
    tSockConn* connection = worker->GetConnection();
    if (!connection) {
        ConsolePrintf("[KILLUSER] Thread (%u) PROCCESS NOT FOUND.\n", request.threadId);
    } else if (!connection->IsRunning()) {
        ConsolePrintf("[KILLUSER] Thread (%u) PROCESS NOT ACTIVE.\n", request.threadId);
    } else {
        connection->Terminate(0);  // it ends at its next request boundary
    }
}

// A count as a 16-bit reply code, held below the negative codes.
i16 CountCode(i32 count) {
    return static_cast<i16>(std::min<i32>(count, std::numeric_limits<i16>::max()));
}

}  // namespace

u32 tMonitor::ReadThreadId() {
    tString text;
    GetCommBuffer()->GetString(text);
    return ParseThreadId(text);
}

void tMonitor::Info() {
    tGMLGlobals& globals = *Globals();
    const bool all = globals.GetConfig()->GetBool("General", "CountAllConnections", 0) != 0;
    const u32 count = all ? globals.GetActiveConnections() : globals.GetUserConnections();
    replyText.Clear();
    globals.GetThreads()->GetUserInfo(replyText);
    tCommBuffer& out = *GetCommBuffer();
    out.PutLong(static_cast<i32>(count));
    out.PutTString(replyText);
}

void tMonitor::KillUser() {
    tCommBuffer& io = *GetCommBuffer();
    tKillRequest request{ReadThreadId()};
    if (io.IsMalformed()) return;
    tThreadList* threads = Globals()->GetThreadList();
    if (request.threadId != 0 && threads) threads->ForEach(&KillVisitor, &request);
    if (!request.found) {
        ConsolePrintf("[KILLUSER] Thread (%u) NOT FOUND OR TERMINATED.\n", request.threadId);
    }
    io.PutLong(0);
}

void tMonitor::GetLockInfo() {
    replyText.Clear();
    tRecordLockEngine* locks = Globals()->GetRecordLockServer();
    if (locks) locks->InspectLocks(replyText, 0);
    tCommBuffer& out = *GetCommBuffer();
    out.PutReturnCode(RC_OK);
    out.PutTString(replyText);
}

void tMonitor::SetConnectionEnable() {
    tCommBuffer& io = *GetCommBuffer();
    i16 flag = 0;
    io.GetShort(flag);
    if (io.IsMalformed()) return;
    tGMLGlobals& globals = *Globals();
    globals.SetConnectionsEnabled(flag != 0);
    tString line;
    line.sprintf("[GMLINFO] DBMonitor Thread (%u) Connections are %s", GetThreadId(),
                 globals.IsConnectionEnabled() ? "ENABLED" : "DISABLED");
    WriteLog(line, 0);
    io.PutReturnCode(RC_OK);
}

void tMonitor::IsConnectionEnabled() {
    tCommBuffer& out = *GetCommBuffer();
    out.PutReturnCode(RC_OK);
    out.PutByte(Globals()->IsConnectionEnabled() ? 1 : 0);
}

void tMonitor::GetBuild() { GetCommBuffer()->PutString(kBuildNumber); }

void tMonitor::StartTrace() {
    tCommBuffer& io = *GetCommBuffer();
    const u32 traced = ReadThreadId();
    if (io.IsMalformed()) return;
    tString text;
    const bool on = Globals()->GetThreads()->SetThreadTrace(traced, GetThreadId(), true, text);
    if (on) startedTraces.push_back(traced);
    io.PutLong(on ? RC_OK : RC_FAILED);
}

void tMonitor::StopTrace() {
    tCommBuffer& io = *GetCommBuffer();
    const u32 traced = ReadThreadId();
    if (io.IsMalformed()) return;
    replyText.Clear();
    if (Globals()->GetThreads()->SetThreadTrace(traced, GetThreadId(), false, replyText)) {
        startedTraces.erase(std::remove(startedTraces.begin(), startedTraces.end(), traced),
                            startedTraces.end());
    }
    io.PutReturnCode(RC_OK);
    io.PutTString(replyText);
}

void tMonitor::GetTraceCount() {
    tCommBuffer& io = *GetCommBuffer();
    const u32 traced = ReadThreadId();
    if (io.IsMalformed()) return;
    i32 count = 0;
    const bool found = Globals()->GetThreads()->WithTraceServer(
        traced, GetThreadId(), [&count](tTraceServer& lines) { count = lines.Count(); });
    io.PutReturnCode(found ? CountCode(count) : RC_FAILED);
}

void tMonitor::GetTrace() {
    tCommBuffer& io = *GetCommBuffer();
    const u32 traced = ReadThreadId();
    i32 maxLength = 0;
    io.GetLong(maxLength);
    if (io.IsMalformed()) return;
    f64 elapsed = 0;
    bool taken = false;
    replyText.Clear();
    Globals()->GetThreads()->WithTraceServer(traced, GetThreadId(), [&](tTraceServer& lines) {
        taken = lines.Take(elapsed, replyText);
    });
    if (!taken) {
        io.PutReturnCode(RC_FAILED);
        return;
    }
    if (replyText.GetLength() > std::max(maxLength, 0)) replyText.Delete(std::max(maxLength, 0));
    io.PutReturnCode(RC_OK);
    io.PutDouble(elapsed);
    io.PutTString(replyText);
}
