// Acceptance of a connection: the connect packet, the factory of connection objects, and the
// run of one connection on the worker that accepted it.
//
// Connect packet:
//  (1) Nothing is received past the length the packet announces, and that length lies within
//      kConnectMinLength..kConnectMaxLength, which the buffer's first block holds whole.
//  (2) The length is read in the byte order that the packet names, whose byte lies inside the
//      smallest packet.
// A connection's run:
//  (3) The worker's connection changes only under the worker's connection lock.
//  (4) Done runs at most once and the object is deleted once, whichever step fails.
#include "server/process/acceptance.h"

#include <cstring>

#include "lib_base/critsec.h"
#include "lib_base/gmlassert.h"
#include "lib_base/sockets.h"
#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/process/gmlserver.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlsockconn.h"

namespace {

// "\xAE" "GML" "\xAE" with its NUL.
const u8 kMagic[] = {0xAE, 'G', 'M', 'L', 0xAE, 0};
constexpr u32 kByteOrderOffset = tCommBuffer::kHeaderSize + sizeof kMagic;
constexpr i32 kKinds = 3;

// The makers of the three kinds. Never destroyed: a worker may still ask while the process ends.
struct tMakers {
    tCriticalSection lock;
    tConnectionMaker makers[kKinds];  // guarded by lock
};

tMakers& Makers() {
    static tMakers* const makers = new tMakers;
    return *makers;
}

bool IsKnownKind(u8 kind) { return kind >= kKindClient && kind < kKindClient + kKinds; }

const char* KindName(u8 kind) {
    switch (kind) {
        case kKindClient:
            return "GMLCLIENT";
        case kKindMonitor:
            return "GMLMONITOR";
        case kKindLockClient:
            return "GMLLOCKSERVER";
        default:
            return "UNKNOWN";
    }
}

// Receives from the accepted socket and keeps the first receive's result for the report.
class tSocketSource : public tByteSource {
public:
    explicit tSocketSource(tSocket& socket) : socket(socket) {}
    i64 Receive(void* dst, u32 maxBytes, bool firstPiece) override {
        const i32 got = socket.Recv(dst, static_cast<i32>(maxBytes));
        if (firstPiece) firstResult = got;
        return got;
    }
    i32 FirstResult() const { return firstResult; }

private:
    tSocket& socket;
    i32 firstResult = 0;
};

// Receives until received reaches target; false when the source ends first.
bool ReceiveUpTo(tByteSource& source, tCommBuffer& buffer, u32& received, u32 target) {
    while (received < target) {
        const u32 want = target - received;
        const i64 got = source.Receive(buffer.GetReceivePtr(received), want, received == 0);
        if (got <= 0) return false;
        GML_ASSERT(got <= static_cast<i64>(want), "byte source overran its piece");
        received += static_cast<u32>(got);
    }
    return true;
}

// Leaves an empty, malformed frame.
tConnectStatus Refuse(tCommBuffer& buffer, tConnectStatus status) {
    buffer.SetReceived(0);
    return status;
}

tString PeerAddress(tSocket& socket) {
    tString address;
    socket.GetAddressText(address);
    return address;
}

// Receives and reads the connect packet, the receive time-out set first; false, with the
// console line, when the connection is refused.
bool ReadPacket(tSocket& socket, i32 timeoutMs, tCommBuffer& buffer, tConnectHead& head) {
    // A socket that refuses the option fails its receives as well.
    const u32 timeout = static_cast<u32>(timeoutMs);
    socket.SetOption(plat::kSolSocket, plat::kSoRcvTimeo, &timeout, sizeof timeout);
    tSocketSource source(socket);
    const tConnectStatus status = ReceiveConnectPacket(source, buffer);
    if (status == tConnectStatus::ReceiveFailed) {
        ConsolePrintf("[WARNING] Client Connection Error (%i): Failed to Receive. (CLOSED)\n",
                      source.FirstResult());
        return false;
    }
    if (status != tConnectStatus::Received || !ReadConnectHead(buffer, head)) {
        ConsolePrintf("[WARNING] Unknown Client Connection from [%s]. (CLOSED)\n",
                      PeerAddress(socket).GetText());
        return false;
    }
    return true;
}

bool IsRefusedForMemory(u8 kind) {
    const tGMLGlobals* globals = Globals();
    return kind != kKindMonitor && globals && globals->IsCriticalMemory();
}

void SendCriticalMemoryReply(tSocket& socket, tCommBuffer& buffer) {
    ConsolePrintf("[ERROR] *** Connection REFUSED due CRITYCAL MEMORY LIMIT ***\n");
    buffer.Reset();
    buffer.PutShort(RC_CRITICAL_MEMORY);
    const u8* frame = buffer.GetFrame();
    socket.Send(frame, static_cast<i32>(buffer.GetFrameLength()), 0);
}

// One connection's run on its worker.
struct tConnectionRun {
    tWThread& worker;
    const u8 kind;
    tGMLSockConn* connection = nullptr;  // held by the worker while it holds it (3)
    bool bodyRunning = false;
    bool doneCalled = false;
};

// Makes the object for the kind and sets it up as the worker's connection; false, with the
// console line, when the kind is unknown or its object cannot be made.
bool AttachConnection(tConnectionRun& run, std::unique_ptr<tSocket>& socket,
                      std::unique_ptr<tCommBuffer>& buffer) {
    tWThread& worker = run.worker;
    tWaiting hold(&worker.GetConnectionLock(), __FILE__, __LINE__);
    if (!IsKnownKind(run.kind)) {
        ConsolePrintf("[WARNING] Invalid Client Connection Type [%i] from [%s]. (CLOSED)\n",
                      run.kind, PeerAddress(*socket).GetText());
        return false;
    }
    std::unique_ptr<tGMLSockConn> made = CreateConnection(run.kind);
    if (!made) {
        ConsolePrintf("[ERROR] Unable to Create Connection Server Object Type [%i]. (CLOSED)\n",
                      run.kind);
        return false;
    }
    run.connection = made.get();
    worker.HoldConnection(std::move(made));
    run.connection->Attach(std::move(socket), worker.GetServer());
    run.connection->SetCommBuffer(std::move(buffer));
    run.connection->AdoptThread(worker.GetThreadId());
    // From here the thread list and the monitor see the worker as this kind of thread.
    worker.SetCanKill(run.connection->CanKill() ? 1 : 0);
    worker.SetThreadType(run.connection->GetThreadType());
    return true;
}

// Stops the worker after this connection, then ends and deletes the object (4).
void EndConnection(tConnectionRun& run) {
    tWaiting hold(&run.worker.GetConnectionLock(), __FILE__, __LINE__);
    // The base's stop: the worker's own would pass the request on to the connection.
    run.worker.tThreadBase::Terminate(0);
    if (!run.doneCalled && run.worker.GetConnection()) {
        run.doneCalled = true;
        run.worker.GetConnection()->Done();
    }
    run.worker.HoldConnection(nullptr);
}

// The report of an exception that left the connection's run; failure is null for an exception
// that is not an assertion.
void PrintExceptionBox(tConnectionRun& run, const tAssertException* failure) {
    ConsolePrintf(
        "\n****************************************\n%s"
        "****************************************\n",
        failure ? "***      Assert exception found      *** \n"
                : "***    Unexpected exception found    *** \n");
    if (failure) {
        ConsolePrintf("%s in file %s at line %u\n",
                      failure->GetExtra() ? failure->GetExtra() : "assert failed",
                      failure->GetFile() ? failure->GetFile() : "", failure->GetLine());
    }
    const tString computer = run.worker.GetClientComputer();
    const tString user = run.worker.GetClientUser();
    ConsolePrintf("Thread ID: %u\nComputer: %s\nUser: %s\nConnection: %s", run.worker.GetThreadId(),
                  computer.GetText(), user.GetText(), KindName(run.kind));
    if (run.kind == kKindClient) {
        if (run.bodyRunning && run.worker.GetConnection()) {
            run.connection->DoShowException();
        } else {
            ConsolePrintf(" (Exception Info Unavailable)");
        }
    }
    ConsolePrintf("\n****************************************\n");
}

void ServeConnection(tWThread& worker, std::unique_ptr<tSocket> socket,
                     std::unique_ptr<tCommBuffer> buffer, u8 kind) {
    tConnectionRun run{worker, kind};
    try {
        if (!AttachConnection(run, socket, buffer)) return;
        run.bodyRunning = true;
        run.connection->Execute();
        EndConnection(run);
    } catch (tAssertException* e) {
        std::unique_ptr<tAssertException> owned(e);  // thrown by pointer: the catcher deletes it
        PrintExceptionBox(run, owned.get());
        if (run.bodyRunning) {
            ConsolePrintf("[WARNING] Thread (%u) CRYTICAL ERROR ... DELETING...\n",
                          worker.GetThreadId());
            EndConnection(run);
        }
    } catch (...) {
        PrintExceptionBox(run, nullptr);
        throw;
    }
}

}  // namespace

tConnectStatus ReceiveConnectPacket(tByteSource& source, tCommBuffer& buffer) {
    buffer.Reset();
    GML_ASSERT(buffer.GetCapacity() >= kConnectMaxLength, "frame block below a connect packet");
    u32 received = 0;
    if (!ReceiveUpTo(source, buffer, received, kConnectMinLength)) {
        return Refuse(buffer,
                      received == 0 ? tConnectStatus::ReceiveFailed : tConnectStatus::Malformed);
    }
    const bool littleSender = *buffer.GetReceivePtr(kByteOrderOffset) == kByteOrderLittle;
    buffer.SetSwap(littleSender != IsLittleEndian());  // (2)
    const u32 announced = buffer.ReadHeaderLength();
    if (announced < kConnectMinLength || announced > kConnectMaxLength ||
        !ReceiveUpTo(source, buffer, received, announced)) {
        return Refuse(buffer, tConnectStatus::Malformed);
    }
    buffer.SetReceived(received);
    return tConnectStatus::Received;
}

bool ReadConnectHead(tCommBuffer& buffer, tConnectHead& head) {
    char magic[sizeof kMagic + 1];
    const size_t length = buffer.GetText(magic, sizeof magic);
    buffer.GetByte(head.byteOrder);
    buffer.GetByte(head.kind);
    return !buffer.IsMalformed() && length + 1 == sizeof kMagic &&
           std::memcmp(magic, kMagic, sizeof kMagic) == 0;
}

void SetConnectionMaker(u8 kind, tConnectionMaker maker) {
    if (!IsKnownKind(kind)) return;
    tWaiting hold(&Makers().lock, __FILE__, __LINE__);
    Makers().makers[kind - kKindClient] = std::move(maker);
}

std::unique_ptr<tGMLSockConn> CreateConnection(u8 kind) {
    if (!IsKnownKind(kind)) return nullptr;
    tConnectionMaker maker;
    {
        tWaiting hold(&Makers().lock, __FILE__, __LINE__);
        maker = Makers().makers[kind - kKindClient];
    }
    return maker ? maker() : nullptr;
}

void AcceptConnection(tWThread& worker, std::unique_ptr<tSocket> socket) {
    GML_ASSERT(socket && worker.GetServer(), "AcceptConnection - nothing to accept");
    auto buffer = std::make_unique<tCommBuffer>();
    tConnectHead head;
    if (!ReadPacket(*socket, worker.GetPacing().connectTimeoutMs, *buffer, head)) return;
    SetServerSocketOptions(*socket);
    if (IsRefusedForMemory(head.kind)) {
        SendCriticalMemoryReply(*socket, *buffer);
        return;
    }
    ServeConnection(worker, std::move(socket), std::move(buffer), head.kind);
}
