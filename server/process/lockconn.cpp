// The lock connection's life: the connect reply, the location, the request loop with its waits,
// the fifteen operations and the release of the location at the end.
//
// Requests:
//  (1) Every value is read before anything is done, and the request is acted on only when all
//      of it was there, the bucket is one of the lock servers' (IsValidLockBucket) and a record
//      number is a finite number; otherwise the request is malformed and the connection ends,
//      leaving its locks to Done.
//  (2) OP_FUNLOCK with an empty table name releases the owner's locks in every table at this
//      location: that is how a slave's "release all" arrives.
#include "server/process/lockconn.h"

#include <cmath>
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/gmlassert.h"
#include "lib_base/sockserver.h"
#include "lib_base/stringz.h"
#include "lib_common/logwriter.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/locks/lockbucket.h"
#include "server/locks/lockengine.h"
#include "server/process/acceptance.h"
#include "server/process/requestframes.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"

namespace {

// What one request works with.
struct tLockRequest {
    tCommBuffer& io;
    tRecordLockEngine& records;
    tVirtualLockEngine& virtuals;
    u32 location;
};

// The arguments a request may carry, read in the order of the wire.
struct tArgs {
    i32 owner = 0;
    i32 hash = 0;
    tString table;
    tString second;
    f64 recno = 0;
    u8 exclusive = 0;

    u32 Owner() const { return static_cast<u32>(owner); }
};

bool WellFormed(tCommBuffer& in) { return !in.IsMalformed(); }
// A record number or count that is no finite number is no record of any table.
bool WellFormed(tCommBuffer& in, const tArgs& args) {
    return !in.IsMalformed() && IsValidLockBucket(args.hash) && std::isfinite(args.recno);
}

// owner, hash, table: the head of most record-lock requests.
tArgs ReadTableHead(tCommBuffer& in) {
    tArgs args;
    in.GetLong(args.owner);
    in.GetLong(args.hash);
    in.GetString(args.table);
    return args;
}

tArgs ReadRecordHead(tCommBuffer& in) {
    tArgs args = ReadTableHead(in);
    in.GetDouble(args.recno);
    return args;
}

void ReplyCode(tCommBuffer& out, i16 code) {
    out.Reset();
    out.PutReturnCode(code);
}

void ReplyNumber(tCommBuffer& out, f64 number) {
    out.Reset();
    out.PutDouble(number);
}

// -31 means yes for a record lock and its test, no for the others.
i16 YesLocked(bool yes) { return yes ? RC_LOCKED : RC_OK; }
i16 NoLocked(bool done) { return done ? RC_OK : RC_LOCKED; }

bool Lock(tLockRequest& r) {
    const tArgs a = ReadRecordHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    ReplyCode(r.io, YesLocked(r.records.RLock(a.Owner(), a.hash, a.table, a.recno, r.location)));
    return true;
}

bool UnLock(tLockRequest& r) {
    const tArgs a = ReadRecordHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    const bool done = r.records.RUnLock(a.Owner(), a.hash, a.table, a.recno, r.location);
    ReplyCode(r.io, done ? RC_OK : RC_NO_RECORD);
    return true;
}

bool FileLock(tLockRequest& r) {
    const tArgs a = ReadTableHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    ReplyCode(r.io, NoLocked(r.records.FLock(a.Owner(), a.hash, a.table, r.location)));
    return true;
}

bool FileUnLock(tLockRequest& r) {  // (2)
    const tArgs a = ReadTableHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    const char* table = a.table.GetLength() > 0 ? a.table.GetText() : nullptr;
    ReplyCode(r.io, NoLocked(r.records.FUnLock(a.Owner(), a.hash, table, r.location)));
    return true;
}

tArgs ReadKeys(tCommBuffer& in) {
    tArgs args;
    in.GetLong(args.owner);
    in.GetString(args.table);
    in.GetString(args.second);
    return args;
}

bool VirtualLock(tLockRequest& r) {
    const tArgs a = ReadKeys(r.io);
    if (!WellFormed(r.io)) return false;
    tString info;
    const bool granted =
        r.virtuals.VLock(a.Owner(), a.table, static_cast<i32>(r.location), a.second, info);
    ReplyCode(r.io, NoLocked(granted));
    return true;
}

bool VirtualUnLock(tLockRequest& r) {
    const tArgs a = ReadKeys(r.io);
    if (!WellFormed(r.io)) return false;
    ReplyCode(r.io, NoLocked(r.virtuals.VUnLock(a.Owner(), a.table, static_cast<i32>(r.location),
                                                a.second)));
    return true;
}

bool NextRecno(tLockRequest& r) {
    const tArgs a = ReadTableHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    ReplyNumber(r.io, r.records.NextRecno(a.Owner(), a.hash, a.table, r.location));
    return true;
}

bool SetRecCount(tLockRequest& r) {
    tArgs a;
    r.io.GetLong(a.hash);
    r.io.GetString(a.table);
    r.io.GetDouble(a.recno);
    if (!WellFormed(r.io, a)) return false;
    r.records.SetRecCount(a.hash, a.table, a.recno);
    ReplyCode(r.io, RC_OK);
    return true;
}

bool IsLocked(tLockRequest& r) {
    const tArgs a = ReadRecordHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    ReplyCode(r.io, YesLocked(r.records.IsLocked(a.Owner(), a.hash, a.table, a.recno, r.location)));
    return true;
}

bool LockInfo(tLockRequest& r) {
    tArgs a;
    r.io.GetLong(a.hash);
    r.io.GetString(a.table);
    r.io.GetDouble(a.recno);
    if (!WellFormed(r.io, a)) return false;
    tString info;
    const bool held = r.records.LockOwnerInfo(a.hash, a.table, a.recno, info) != 0;
    ReplyCode(r.io, held ? RC_OK : RC_NO_RECORD);
    if (held) r.io.PutTString(info);
    return true;
}

bool RecCount(tLockRequest& r) {
    tArgs a;
    r.io.GetLong(a.hash);
    r.io.GetString(a.table);
    if (!WellFormed(r.io, a)) return false;
    ReplyNumber(r.io, r.records.RecCount(a.hash, a.table));
    return true;
}

bool SetOpen(tLockRequest& r) {
    tArgs a = ReadTableHead(r.io);
    r.io.GetByte(a.exclusive);
    if (!WellFormed(r.io, a)) return false;
    const bool admitted = r.records.SetOpen(a.Owner(), a.hash, a.table, a.exclusive, r.location);
    ReplyCode(r.io, admitted ? RC_OK : RC_IN_USE);
    return true;
}

bool SetClose(tLockRequest& r) {
    const tArgs a = ReadTableHead(r.io);
    if (!WellFormed(r.io, a)) return false;
    const bool closed = r.records.SetClose(a.Owner(), a.hash, a.table, r.location);
    ReplyCode(r.io, closed ? RC_OK : RC_NO_OPEN_FILE);
    return true;
}

bool SetOwnerInfo(tLockRequest& r) {
    tArgs a;
    r.io.GetLong(a.owner);
    r.io.GetString(a.table);
    if (!WellFormed(r.io)) return false;
    r.records.SetOwnerInfo(a.Owner(), a.table, r.location);
    ReplyCode(r.io, RC_OK);
    return true;
}

using tOperation = bool (*)(tLockRequest&);

struct tOpcodeEntry {
    i16 opcode;
    tOperation operation;
};

const tOpcodeEntry kOperations[] = {
    {OP_LOCK, Lock},           {OP_UNLOCK, UnLock},
    {OP_FLOCK, FileLock},      {OP_FUNLOCK, FileUnLock},
    {OP_VLOCK, VirtualLock},   {OP_VUNLOCK, VirtualUnLock},
    {OP_NEXTRECNO, NextRecno}, {OP_SETRECCOUNT, SetRecCount},
    {OP_ISLOCKED, IsLocked},   {OP_LOCKINFO, LockInfo},
    {OP_GETLASTREC, RecCount}, {OP_SETOPEN, SetOpen},
    {OP_SETCLOSE, SetClose},   {OP_SETOWNERINFO, SetOwnerInfo},
};

tOperation FindOperation(i16 opcode) {
    for (const tOpcodeEntry& entry : kOperations) {
        if (entry.opcode == opcode) return entry.operation;
    }
    return nullptr;
}

}  // namespace

tLockConn::tLockConn(i32 requestWaitMs) : requestWaitMs(requestWaitMs) {}

i32 tLockConn::Execute() {
    const bool master = ServerMode() == kModeMaster;
    if (!SendConnectReply(master ? RC_OK : RC_NOT_MASTER) || !master) return 0;
    const u32 id = GetThreadId();
    TakeLocation(id);
    tString peer;
    GetAddressText(peer);
    ConsolePrintf("Begin LockConn Thread (%u,%s)\n", id, peer.GetText());
    switch (ServeRequests(*this, *this, requestWaitMs, "")) {
        case tServeEnd::Disconnected:
            PrintEnd(false);
            return 1;
        case tServeEnd::Ended:
            PrintEnd(true);
            return 1;
        case tServeEnd::Lost:
            break;
    }
    return 0;
}

// The mode of the listener that accepted this connection; the process's without one.
u32 tLockConn::ServerMode() {
    if (auto* listening = dynamic_cast<tListeningServer*>(GetServer())) return listening->GetMode();
    return Globals()->GetServerMode();
}

void tLockConn::TakeLocation(u32 value) {
    location = value;
    holding = true;
    ReleaseLocation();
}

bool tLockConn::SendConnectReply(i16 code) {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutReturnCode(code);
    const bool sent = SendReply();
    out.Reset();
    return sent;
}

tReceiveStatus tLockConn::ReceiveRequest() {
    if (!IsConnected()) return tReceiveStatus::SourceEnded;
    return ReceiveRequestFrame(*this, kReceiveChunk, kMinRequestLength, true);
}

tLockConn::tRequestResult tLockConn::RunRequest() {
    tCommBuffer& in = *GetCommBuffer();
    i16 opcode = 0;
    in.GetShort(opcode);
    if (in.IsMalformed()) return tRequestResult::Malformed;
    ++requests;
    if (opcode == OP_DISCONNECT) return tRequestResult::Disconnect;
    const tOperation operation = FindOperation(opcode);
    if (!operation) {
        ConsolePrintf("[ERROR] (tLockConn) Operation (%X) IGNORED - Thread (%u)\n",
                      static_cast<u32>(static_cast<u16>(opcode)), GetThreadId());
        return tRequestResult::Unknown;
    }
    tGMLGlobals& globals = *Globals();
    tRecordLockEngine* records = globals.GetRecordLockServer();
    tVirtualLockEngine* virtuals = globals.GetVirtualLockServer();
    GML_ASSERT(records && virtuals, "tLockConn - no lock servers");
    tLockRequest request{in, *records, *virtuals, location};
    return operation(request) ? tRequestResult::Reply : tRequestResult::Malformed;  // (1)
}

bool tLockConn::Serves(i16 opcode) { return FindOperation(opcode) != nullptr; }

bool tLockConn::SendReply() { return SendReplyFrame(*this, "tLockConn - empty reply frame"); }

void tLockConn::PrintEnd(bool terminated) {
    const tCommBuffer& buffer = *GetCommBuffer();
    char received[32];
    char sent[32];
    FormatByteSize(buffer.GetTotalRead(), received, sizeof received);
    FormatByteSize(buffer.GetTotalWritten(), sent, sizeof sent);
    ConsolePrintf("End LockConn Thread (%u)%s (IOs %llu / RCV %s / SND %s )\n", GetThreadId(),
                  terminated ? " [TERMINATED]" : "", static_cast<unsigned long long>(requests),
                  received, sent);
}

// Only a location this connection took is released: location 0 is the local clients'.
void tLockConn::ReleaseLocation() {
    if (!holding) return;
    tGMLGlobals* globals = Globals();
    if (!globals) return;
    if (tRecordLockEngine* records = globals->GetRecordLockServer()) {
        records->UnLockLocation(location);
    }
    if (tVirtualLockEngine* virtuals = globals->GetVirtualLockServer()) {
        virtuals->UnLockLocation(static_cast<i32>(location));
    }
}

bool tLockConn::Done() {
    ReleaseLocation();
    return tGMLSockConn::Done();
}

void RegisterLockConnections(i32 requestWaitMs) {
    SetConnectionMaker(kKindLockClient, [requestWaitMs]() -> std::unique_ptr<tGMLSockConn> {
        return std::make_unique<tLockConn>(requestWaitMs);
    });
}
