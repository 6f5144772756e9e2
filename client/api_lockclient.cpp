// Exports of the lock-client connection, through which a slave server asks its master for record
// and table locks, named locks, table openings and record-number counters. Owner and hash
// values are the caller's and go out unchanged; so do the master's answers.
#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::StatusRequest;

namespace {

template <class R, class Body>
R WithLockClient(GM_HANDLE handle, Body&& body) {
    return gmapi::WithConnection<tLockClient, R>(handle, std::forward<Body>(body));
}

// A missing table goes out empty, which a master reads as every table.
using gmapi::PutArg;

// A request whose reply is the master's status alone.
template <class... Args>
int16_t LockRequest(GM_HANDLE handle, i16 opcode, Args... args) {
    return WithLockClient<int16_t>(handle, [&](tLockClient& client) -> int16_t {
        client.BeginRequest(opcode);
        (PutArg(client.GetBuffer(), args), ...);
        return StatusRequest(client);
    });
}

// A request whose reply is one number and no status: -2.0 when not connected, -88.0 (the
// connection dropped) when the exchange failed or the number is missing.
template <class... Args>
double NumberRequest(GM_HANDLE handle, i16 opcode, Args... args) {
    return WithLockClient<double>(handle, [&](tLockClient& client) -> double {
        client.BeginRequest(opcode);
        (PutArg(client.GetBuffer(), args), ...);
        if (!client.Transact()) return client.CommFail(RC_COMM_FAILURE);
        f64 number = 0;
        client.GetBuffer().GetDouble(number);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        return number;
    });
}

}  // namespace

int16_t GM_LockClientRLock(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table,
                           double recno) {
    return LockRequest(handle, OP_LOCK, owner, hash, table, recno);
}

int16_t GM_LockClientRUnLock(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table,
                             double recno) {
    return LockRequest(handle, OP_UNLOCK, owner, hash, table, recno);
}

int16_t GM_LockClientFLock(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table) {
    return LockRequest(handle, OP_FLOCK, owner, hash, table);
}

int16_t GM_LockClientFUnLock(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table) {
    return LockRequest(handle, OP_FUNLOCK, owner, hash, table);
}

int16_t GM_LockClientVLock(GM_HANDLE handle, uint32_t owner, const char* key1, const char* key2) {
    return LockRequest(handle, OP_VLOCK, owner, key1, key2);
}

int16_t GM_LockClientVUnLock(GM_HANDLE handle, uint32_t owner, const char* key1, const char* key2) {
    return LockRequest(handle, OP_VUNLOCK, owner, key1, key2);
}

int16_t GM_LockClientIsLocked(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table,
                              double recno) {
    return LockRequest(handle, OP_ISLOCKED, owner, hash, table, recno);
}

double GM_LockClientNextRecno(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table) {
    return NumberRequest(handle, OP_NEXTRECNO, owner, hash, table);
}

double GM_LockClientRecCount(GM_HANDLE handle, uint32_t hash, const char* table) {
    return NumberRequest(handle, OP_GETLASTREC, hash, table);
}

int16_t GM_LockClientSetRecCount(GM_HANDLE handle, uint32_t hash, const char* table, double count) {
    return LockRequest(handle, OP_SETRECCOUNT, hash, table, count);
}

int16_t GM_LockClientSetOpen(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table,
                             uint8_t exclusive) {
    return LockRequest(handle, OP_SETOPEN, owner, hash, table, exclusive);
}

int16_t GM_LockClientSetClose(GM_HANDLE handle, uint32_t owner, uint32_t hash, const char* table) {
    return LockRequest(handle, OP_SETCLOSE, owner, hash, table);
}

int16_t GM_LockClientSetOwnerInfo(GM_HANDLE handle, uint32_t owner, const char* text) {
    return LockRequest(handle, OP_SETOWNERINFO, owner, text);
}

int16_t GM_LockClientLockOwnerInfo(GM_HANDLE handle, uint32_t hash, const char* table, double recno,
                                   char* out) {
    return WithLockClient<int16_t>(handle, [&](tLockClient& client) -> int16_t {
        client.BeginRequest(OP_LOCKINFO);
        PutArg(client.GetBuffer(), hash);
        PutArg(client.GetBuffer(), table);
        PutArg(client.GetBuffer(), recno);
        i16 status = 0;
        if (!client.Request(status)) return status;
        if (status != RC_OK) return status;
        return client.Finish(status,
                             gmapi::ReadTextInto(client.GetBuffer(), out, GM_LOCK_OWNER_SIZE));
    });
}
