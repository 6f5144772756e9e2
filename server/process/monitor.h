// The monitor connection: how an administrator sees and steers a running server. tMonitor answers
// the connect with the server type and the operating-system report, then runs one operation per
// request frame (users, connections, locks, traces, logs, files, configuration, diagnostics).
#pragma once
#include <vector>

#include "lib_base/diskman.h"
#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"
#include "lib_base/threads.h"
#include "lib_base/types.h"
#include "lib_common/commbuffer.h"
#include "server/process/requestframes.h"
#include "server/runtime/gmlsockconn.h"

// One monitor connection, served on the worker that accepted it; every operation runs on that
// thread. Anyone who reaches the port can be a monitor, so every request is read whole and
// checked before it touches a file, the ini file or another connection.
// Request frame: the length prefix, the 16-bit opcode, the operation's arguments. Each operation
// reads its arguments and writes its reply into the connection's frame buffer; the request loop
// sends it. An operation that finds its arguments malformed writes nothing: the loop then ends
// the connection.
class tMonitor : public tGMLSockConn, public tRequestSteps {
public:
    static constexpr i32 kRequestWaitMs = 30000;  // a wait for input that finds none loops again
    static constexpr u32 kReceiveChunk = 8192;
    static constexpr u32 kMinRequestLength = 6;  // the length prefix and the opcode
    static constexpr i64 kTransferPiece = 1000000;
    static constexpr i64 kLogReadMax = 1000000;
    static constexpr i32 kReplyTextReserve = 786432;

    // requestWaitMs: how long one wait for the next request lasts (tests shorten it).
    explicit tMonitor(i32 requestWaitMs = kRequestWaitMs);
    ~tMonitor() override;  // closes a file transfer still open

    i32 GetThreadType() override { return kThreadTypeMonitSockThread; }
    const char* GetClassName() override { return "tMonitor"; }
    bool CanKill() override { return false; }  // a monitor never ends another monitor
    // The connect reply, then requests until OP_DISCONNECT (1) or the connection's end (0).
    i32 Execute() override;
    // Receives one whole request frame, waiting up to the monitor's wait for it to begin: Idle
    // when none began; any status but Received and Idle ends the connection (the peer went away,
    // or the frame's length is out of bounds).
    tReceiveStatus ReceiveRequest() override;
    // Runs the operation of the request in the frame buffer, leaving its reply there. An opcode
    // without an operation is warned about and answered with the request as received; a
    // request's arguments cut short are Malformed.
    tRequestResult RunRequest() override;
    static bool Serves(i16 opcode);  // the opcode has an operation
    // Switches off every trace this monitor switched on, then the connection's end step.
    bool Done() override;

    // Users, connections, locks and traces.
    void Info();
    void KillUser();
    void GetLockInfo();
    void SetConnectionEnable();
    void IsConnectionEnabled();
    void GetBuild();
    void StartTrace();
    void StopTrace();
    void GetTraceCount();
    void GetTrace();

    // Logs, files, configuration and diagnostics.
    void ReadLog();
    void ClearLog();
    void GetDiagInfo();
    void GetDiagLog();
    void DiagMiscInfo();
    void GetIniFile();
    void SetIniFile();
    void ReadIniString();
    void WriteIniString();
    void ReadIniInteger();
    void WriteIniInteger();
    void DelSection();

    GML_CLASS_ALLOCATOR(tMonitor, Mem_GmlMonitor)

private:
    bool SendConnectReply();
    bool SendReply() override;
    // Reads a thread id argument; the buffer is marked malformed when it is missing.
    u32 ReadThreadId();
    void StartTransfer(const tString& name, i16& code);
    void ReadTransferPiece(i16& code);
    void EndTransfer();

    // Constant after construction.
    const i32 requestWaitMs;
    // The serving thread's only.
    tDiskManLocal disk;              // empty roots: paths are used as given
    i32 transferHandle = -1;         // the file of a transfer in progress, -1 when none
    i64 transferLeft = 0;            // its bytes still to send
    tString replyText;               // reused by every operation that answers a text
    std::vector<u32> startedTraces;  // thread ids whose trace this monitor switched on
};

// Makes kind '1' connections tMonitor objects from now on; requestWaitMs as tMonitor's. Called
// at server start, before workers run.
void RegisterMonitorConnections(i32 requestWaitMs = tMonitor::kRequestWaitMs);
