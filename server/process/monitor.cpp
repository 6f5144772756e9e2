// The monitor connection's life: the connect reply, the request loop with its waits, receiving a
// request frame, the opcode table, and the end step that switches off the monitor's traces.
//
// Request frames:
//  (1) The first receive of a request waits for it (the socket's receive time-out is the
//      monitor's wait) and takes its prefix with as much of the rest as has arrived; what came
//      past the frame waits in the frame buffer for the next request.
//  (2) A length below kMinRequestLength or above the largest frame ends the connection before
//      anything is allocated for it; so does a request whose arguments are cut short.
#include "server/process/monitor.h"

#include <memory>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "lib_common/logwriter.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/process/acceptance.h"
#include "server/process/requestframes.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"

namespace {

using tOperation = void (tMonitor::*)();

struct tOpcodeEntry {
    i16 opcode;
    tOperation operation;
};

const tOpcodeEntry kOperations[] = {
    {OP_INFO, &tMonitor::Info},
    {OP_STARTTRACE, &tMonitor::StartTrace},
    {OP_STOPTRACE, &tMonitor::StopTrace},
    {OP_TRACECOUNT, &tMonitor::GetTraceCount},
    {OP_GETTRACE, &tMonitor::GetTrace},
    {OP_KILLUSER, &tMonitor::KillUser},
    {OP_READLOG, &tMonitor::ReadLog},
    {OP_CLEARLOG, &tMonitor::ClearLog},
    {OP_READINISTR, &tMonitor::ReadIniString},
    {OP_WRITEINISTR, &tMonitor::WriteIniString},
    {OP_DELSECTION, &tMonitor::DelSection},
    {OP_READINIINT, &tMonitor::ReadIniInteger},
    {OP_WRITEINIINT, &tMonitor::WriteIniInteger},
    {OP_LOCKINFO, &tMonitor::GetLockInfo},
    {OP_SET_CONNECTION_ENABLE, &tMonitor::SetConnectionEnable},
    {OP_IS_CONNECTION_ENABLED, &tMonitor::IsConnectionEnabled},
    {OP_GETDIAGINFO, &tMonitor::GetDiagInfo},
    {OP_GETDIAGLOG, &tMonitor::GetDiagLog},
    {OP_DIAGMISCINFO, &tMonitor::DiagMiscInfo},
    {OP_GETINIFILE, &tMonitor::GetIniFile},
    {OP_SETINIFILE, &tMonitor::SetIniFile},
    {OP_BUILD, &tMonitor::GetBuild},
};

tOperation FindOperation(i16 opcode) {
    for (const tOpcodeEntry& entry : kOperations) {
        if (entry.opcode == opcode) return entry.operation;
    }
    return nullptr;
}

}  // namespace

tMonitor::tMonitor(i32 requestWaitMs) : requestWaitMs(requestWaitMs) {
    replyText.Reserve(kReplyTextReserve);
}

tMonitor::~tMonitor() { EndTransfer(); }

i32 tMonitor::Execute() {
    const u32 id = GetThreadId();
    tString peer;
    GetAddressText(peer);
    ConsolePrintf("Begin DBMonitor Thread (%u,%s,%s)\n", id, peer.GetText(), GetOSTypeName());
    if (!SendConnectReply()) return 0;
    switch (ServeRequests(*this, *this, requestWaitMs, " (ISCONNECTED)")) {
        case tServeEnd::Disconnected:
            ConsolePrintf("End DBMonitor Thread (%u)\n", id);
            return 1;
        case tServeEnd::Ended:
            ConsolePrintf("Exit DBMonitor Thread (%u) [TERMINATED]\n", id);
            return 0;
        case tServeEnd::Lost:
            break;
    }
    return 0;
}

bool tMonitor::SendConnectReply() {
    tString osReport;
    GMLCheckOS(osReport);
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutReturnCode(RC_OK);
    out.PutString(GetOSTypeName());
    out.PutTString(osReport);
    const bool sent = SendReply();
    out.Reset();
    return sent;
}

tReceiveStatus tMonitor::ReceiveRequest() {
    return ReceiveRequestFrame(*this, kReceiveChunk, kMinRequestLength, false);
}

tMonitor::tRequestResult tMonitor::RunRequest() {
    tCommBuffer& in = *GetCommBuffer();
    i16 opcode = 0;
    in.GetShort(opcode);
    if (in.IsMalformed()) return tRequestResult::Malformed;
    if (opcode == OP_DISCONNECT) return tRequestResult::Disconnect;
    const tOperation operation = FindOperation(opcode);
    if (operation) {
        (this->*operation)();
    } else {
        // Nothing is written: the request goes back as it came.
        ConsolePrintf("[WARNING] (tMonitor) Operation (%X) IGNORED - Thread (%u)\n",
                      static_cast<u32>(static_cast<u16>(opcode)), GetThreadId());
    }
    return in.IsMalformed() ? tRequestResult::Malformed : tRequestResult::Reply;
}

bool tMonitor::Serves(i16 opcode) { return FindOperation(opcode) != nullptr; }

bool tMonitor::SendReply() { return SendReplyFrame(*this, "tMonitor - empty reply frame"); }

bool tMonitor::Done() {
    for (const u32 traced : startedTraces) {
        tString summary;
        if (Globals()->GetThreads()->SetThreadTrace(traced, GetThreadId(), false, summary)) {
            ConsolePrintf("[INFO] Trace Operation Finished\n%s\n", summary.GetText());
        }
    }
    startedTraces.clear();
    return tGMLSockConn::Done();
}

void RegisterMonitorConnections(i32 requestWaitMs) {
    SetConnectionMaker(kKindMonitor, [requestWaitMs]() -> std::unique_ptr<tGMLSockConn> {
        return std::make_unique<tMonitor>(requestWaitMs);
    });
}
